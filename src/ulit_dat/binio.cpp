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
    // The first byte that a failed read or seek needs and the file lacks is the one after its last.
    throw InOutError(iotext::kEndOfFile, file_, static_cast<std::int64_t>(size_));
}

} // namespace rawdat
