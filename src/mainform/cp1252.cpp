#include "mainform/cp1252.h"

#include "convert/session.h"

#include <QStringDecoder>

namespace rawdat {

namespace {
std::string_view beforeNul(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }
} // namespace

QString fromWindows1252(std::string_view bytes)
{
    return QString::fromStdString(windows1252ToUtf8(beforeNul(bytes)));
}

QString messageText(std::string_view bytes)
{
    bytes = beforeNul(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError())
        return fromWindows1252(bytes);
    return text;
}

} // namespace rawdat
