#include "ulit_dat/binio.h"

#include "ulit_dat/errors.h"

namespace rawdat {

void ByteReader::seek(std::size_t offset)
{
    if (offset > size_) {
        off_ = size_;
        failEndOfFile();
    }
    off_ = offset;
}

void ByteReader::failEndOfFile() const
{
    throw InOutError(iotext::kEndOfFile, file_, static_cast<std::int64_t>(off_));
}

} // namespace rawdat
