// The window's background picture: a JPEG kept in the program's resources, decoded once when the
// window is created and drawn stretched behind the panels.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <cstddef>

namespace korvan {

// Decodes a JPEG held in memory into a 24-bit RGB image; a null image when the data is not a
// JPEG libjpeg can read.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);

// The picture built into the program.
QImage LoadBackgroundPicture();

class TBackground : public QWidget {
    Q_OBJECT
  public:
    explicit TBackground(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    const QPixmap& Stretched() const { return stretched_; }
    int ScaleCount() const { return scaleCount_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Rescale(); // when the size changed since the last scaling

    QImage picture_;
    QPixmap stretched_;
    int scaleCount_ = 0;
};

} // namespace korvan
