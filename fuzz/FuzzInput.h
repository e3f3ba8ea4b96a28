#pragma once
// Takes a fuzz input apart into small decisions, byte by byte. Past the end
// every read gives 0, so any input, the empty one included, is a valid
// program of operations.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace harmolune::fuzz {

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }

    std::uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }

    std::uint32_t Word() {
        std::uint32_t w = 0;
        for (int i = 0; i < 4; ++i) {
            w = w << 8 | Byte();
        }
        return w;
    }

    // Up to maxLength bytes, the length taken from the input first.
    std::string_view Text(std::size_t maxLength) {
        std::size_t n = Byte() % (maxLength + 1);
        if (n > size_ - pos_) {
            n = Empty() ? 0 : size_ - pos_;
        }
        const std::string_view text(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return text;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace harmolune::fuzz
