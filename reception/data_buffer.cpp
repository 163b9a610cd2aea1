#include "reception/data_buffer.h"

#include <cstring>

bool CDataBuffer::Read(void* destination, int n) {
    if (n < 0 || n > length_ - read_pos_) {
        return false;
    }
    if (n > 0) {
        std::memcpy(destination, data_.data() + read_pos_, static_cast<std::size_t>(n));
    }
    read_pos_ += n;
    return true;
}

bool CDataBuffer::Write(const void* source, int n) {
    if (n < 0 || n > kCapacity - length_) {
        return false;
    }
    if (n > 0) {
        std::memcpy(data_.data() + length_, source, static_cast<std::size_t>(n));
    }
    length_ += n;
    return true;
}
