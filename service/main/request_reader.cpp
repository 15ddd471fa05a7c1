#include "main/request_reader.h"

#include <algorithm>
#include <cstdint>

#include "control/native_wire.h"

namespace orlune {

RequestReader::Progress RequestReader::feed(std::string_view bytes) {
    while (progress_ == Progress::incomplete && !bytes.empty()) {
        if (!size_) {
            const std::size_t take = std::min<std::size_t>(4 - prefix_.size(), bytes.size());
            prefix_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (prefix_.size() < 4) break;
            std::uint32_t size = 0;
            for (unsigned char byte : prefix_) size = (size << 8) | byte;
            if (size == 0 || size > NativeWire::limit) {
                progress_ = Progress::invalid;
                break;
            }
            size_ = size;
            body_.reserve(size);
            continue;
        }
        const std::size_t take = std::min(*size_ - body_.size(), bytes.size());
        body_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (body_.size() == *size_) progress_ = Progress::complete;
    }
    return progress_;
}

}  // namespace orlune
