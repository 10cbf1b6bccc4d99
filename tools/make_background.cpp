// Draws the station window's background picture and writes it as a colour JPEG: a dark
// blue-grey field with a fine drafting grid and faint circuit traces, calm enough that the panels
// in front of it stay easy to read.
//
// Usage: korvan_make_background OUTPUT.jpg

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kWidth = 2560;
constexpr int kHeight = 1360;
constexpr int kQuality = 88;

struct Rgb {
    float r, g, b;
};

class Canvas {
  public:
    Canvas() : pixels_(static_cast<std::size_t>(kWidth) * kHeight) {}

    Rgb& At(int x, int y) { return pixels_[static_cast<std::size_t>(y) * kWidth + x]; }

    // Mixes a colour into one pixel with the given opacity; points off the canvas are ignored.
    void Blend(int x, int y, Rgb c, float alpha) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        Rgb& p = At(x, y);
        p.r += (c.r - p.r) * alpha;
        p.g += (c.g - p.g) * alpha;
        p.b += (c.b - p.b) * alpha;
    }

    void HLine(int x0, int x1, int y, Rgb c, float alpha) {
        for (int x = std::min(x0, x1); x <= std::max(x0, x1); ++x)
            Blend(x, y, c, alpha);
    }

    void VLine(int x, int y0, int y1, Rgb c, float alpha) {
        for (int y = std::min(y0, y1); y <= std::max(y0, y1); ++y)
            Blend(x, y, c, alpha);
    }

    // A ring with a soft edge, the solder pad at the end of a trace.
    void Ring(int cx, int cy, float radius, float thickness, Rgb c, float alpha) {
        const int reach = static_cast<int>(radius + thickness + 2);
        for (int y = cy - reach; y <= cy + reach; ++y)
            for (int x = cx - reach; x <= cx + reach; ++x) {
                const float d = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
                const float edge =
                    1.0f - std::clamp(std::fabs(d - radius) - thickness / 2, 0.0f, 1.0f);
                if (edge > 0) Blend(x, y, c, alpha * edge);
            }
    }

    const std::vector<Rgb>& Pixels() const { return pixels_; }

  private:
    std::vector<Rgb> pixels_;
};

// Small deterministic generator, so every build draws the same picture.
class Random {
  public:
    std::uint32_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }
    float Unit() { return static_cast<float>(Next() & 0xFFFF) / 65535.0f; }

  private:
    std::uint32_t state_ = 0x4B4F5256u;
};

void PaintField(Canvas& canvas) {
    const Rgb top{30, 41, 52};
    const Rgb bottom{12, 17, 23};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float fx = static_cast<float>(x) / kWidth;
            const float fy = static_cast<float>(y) / kHeight;
            const float t = std::clamp(0.65f * fy + 0.35f * fx, 0.0f, 1.0f);
            // Darker towards the corners.
            const float dx = fx - 0.45f;
            const float dy = fy - 0.4f;
            const float shade = 1.0f - 0.35f * std::min(1.0f, (dx * dx + dy * dy) * 1.6f);
            canvas.At(x, y) = {(top.r + (bottom.r - top.r) * t) * shade,
                               (top.g + (bottom.g - top.g) * t) * shade,
                               (top.b + (bottom.b - top.b) * t) * shade};
        }
}

void PaintGrid(Canvas& canvas) {
    const Rgb minor{70, 92, 110};
    const Rgb major{86, 124, 148};
    for (int x = 0; x < kWidth; x += 16)
        canvas.VLine(x, 0, kHeight - 1, x % 128 == 0 ? major : minor, x % 128 == 0 ? 0.16f : 0.06f);
    for (int y = 0; y < kHeight; y += 16)
        canvas.HLine(0, kWidth - 1, y, y % 128 == 0 ? major : minor, y % 128 == 0 ? 0.16f : 0.06f);
}

void PaintTraces(Canvas& canvas, Random& random) {
    const Rgb trace{72, 150, 160};
    for (int n = 0; n < 70; ++n) {
        // Traces run on the grid: a few straight runs with right-angle bends.
        int x = random.Below(kWidth / 16) * 16;
        int y = random.Below(kHeight / 16) * 16;
        const float alpha = 0.10f + 0.12f * random.Unit();
        canvas.Ring(x, y, 4.0f, 1.5f, trace, alpha * 1.6f);
        const int runs = 2 + random.Below(4);
        bool horizontal = random.Below(2) == 0;
        for (int r = 0; r < runs; ++r) {
            const int length = (3 + random.Below(18)) * 16 * (random.Below(2) == 0 ? 1 : -1);
            if (horizontal) {
                canvas.HLine(x, x + length, y, trace, alpha);
                canvas.HLine(x, x + length, y + 1, trace, alpha * 0.4f);
                x += length;
            } else {
                canvas.VLine(x, y, y + length, trace, alpha);
                canvas.VLine(x + 1, y, y + length, trace, alpha * 0.4f);
                y += length;
            }
            horizontal = !horizontal;
        }
        canvas.Ring(x, y, 4.0f, 1.5f, trace, alpha * 1.6f);
    }
}

bool WriteJpeg(const Canvas& canvas, const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    jpeg_start_compress(&info, TRUE);

    Random dither;
    std::vector<JSAMPLE> row(static_cast<std::size_t>(kWidth) * 3);
    const std::vector<Rgb>& pixels = canvas.Pixels();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Rgb& p = pixels[static_cast<std::size_t>(y) * kWidth + x];
            // A little noise keeps the dark gradient from banding.
            const float noise = dither.Unit() - 0.5f;
            auto channel = [noise](float v) {
                return static_cast<JSAMPLE>(std::clamp(std::lround(v + noise), 0L, 255L));
            };
            row[3 * x] = channel(p.r);
            row[3 * x + 1] = channel(p.g);
            row[3 * x + 2] = channel(p.b);
        }
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 2;
    }
    Canvas canvas;
    Random random;
    PaintField(canvas);
    PaintGrid(canvas);
    PaintTraces(canvas, random);
    return WriteJpeg(canvas, argv[1]) ? 0 : 1;
}
