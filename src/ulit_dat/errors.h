// The error model shared by every layer. One base, so every front end can show what().
//
//  InOutError   a file could not be opened, read or written. Carries the runtime's French
//               text the user sees, plus the file and (for reads) the byte offset.
//  FloatError   a floating-point division by zero, invalid operation or overflow.
//  Refusal      content that the library will not process, in English, naming the file.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

namespace rawdat {

class RawdatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The French runtime texts of the input/output errors.
namespace iotext {
inline constexpr const char* kEndOfFile = "Lecture au-delà de la fin de fichier";
inline constexpr const char* kNotFound = "Fichier introuvable";
inline constexpr const char* kPathNotFound = "Chemin d'accès introuvable";
inline constexpr const char* kAccessDenied = "Accès au fichier refusé";
inline constexpr const char* kDiskFull = "Disque plein";
inline constexpr const char* kBadFileName = "Nom de fichier incorrect";
inline constexpr const char* kTooManyOpen = "Trop de fichiers ouverts";
inline constexpr const char* kIoError = "Erreur d'E/S";
// Faults the runtime had no text for.
inline constexpr const char* kSymlinkLoop = "too many levels of symbolic links";
inline constexpr const char* kPathTooLong = "path too long";
// A file another program holds open without sharing it (Windows).
inline constexpr const char* kSharingViolation = "in use by another program";
} // namespace iotext

class InOutError : public RawdatError {
public:
    static constexpr std::int64_t kNoOffset = -1;
    InOutError(std::string text, std::string file, std::int64_t offset = kNoOffset);
    const std::string& text() const { return text_; }
    const std::string& file() const { return file_; }
    std::int64_t offset() const { return offset_; }

private:
    std::string text_;
    std::string file_;
    std::int64_t offset_;
};

class FloatError : public RawdatError {
public:
    enum class Kind { DivideByZero, InvalidOperation, Overflow };
    explicit FloatError(Kind kind);
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class Refusal : public RawdatError {
public:
    Refusal(const std::string& file, const std::string& what);
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// An error as one line for a program's last resort: "FILE: message" when it names a file (an
// input/output error, a refusal, a file-system error of the standard library), else what().
std::string fileFirstMessage(const std::exception& e);

} // namespace rawdat
