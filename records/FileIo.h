// Whole files, read and written only on the operator's command. A file is written under a
// temporary name in its own folder and renamed over the old one only once every byte is on the
// disk, so a failure (a full disk, a read-only folder) leaves the old file as it was.
#pragma once

#include <string>

namespace korvan::records {

// Why a file operation failed, in the operator's words: "на диске не хватило места".
std::string FileErrorReason(int error);

// Empty on success, else the message to show: what failed, in the operator's words.
std::string WriteFileAtomically(const std::string& path, const std::string& bytes);

// Files larger than this are no settings file of ours; they are refused before reading.
constexpr long kMaxReadBytes = 4 * 1024 * 1024;

// Empty on success, else the message to show.
std::string ReadWholeFile(const std::string& path, std::string& bytes);

} // namespace korvan::records
