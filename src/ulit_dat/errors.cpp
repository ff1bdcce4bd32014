#include "ulit_dat/errors.h"

#include <filesystem>

namespace rawdat {

namespace {
std::string ioMessage(const std::string& text, const std::string& file, std::int64_t offset)
{
    std::string m = text;
    if (!file.empty() || offset >= 0) {
        m += " (";
        m += file;
        if (offset >= 0) {
            if (!file.empty())
                m += ", ";
            m += "byte ";
            m += std::to_string(offset);
        }
        m += ")";
    }
    return m;
}

const char* floatText(FloatError::Kind kind)
{
    switch (kind) {
    case FloatError::Kind::DivideByZero: return "Division en virgule flottante par zéro";
    case FloatError::Kind::InvalidOperation: return "Opération en virgule flottante incorrecte";
    case FloatError::Kind::Overflow: return "Débordement de virgule flottante";
    }
    return "Erreur de virgule flottante";
}
} // namespace

InOutError::InOutError(std::string text, std::string file, std::int64_t offset)
    : RawdatError(ioMessage(text, file, offset)), text_(std::move(text)), file_(std::move(file)),
      offset_(offset)
{
}

FloatError::FloatError(Kind kind) : RawdatError(floatText(kind)), kind_(kind) {}

Refusal::Refusal(const std::string& file, const std::string& what)
    : RawdatError(file.empty() ? what : file + ": " + what), file_(file)
{
}

std::string fileFirstMessage(const std::exception& e)
{
    if (const auto* io = dynamic_cast<const InOutError*>(&e); io && !io->file().empty())
        return io->file() + ": " + ioMessage(io->text(), {}, io->offset());
    if (const auto* f = dynamic_cast<const std::filesystem::filesystem_error*>(&e); f && !f->path1().empty())
        return f->path1().string() + ": " + f->code().message();
    return e.what(); // a refusal names its file first already
}

} // namespace rawdat
