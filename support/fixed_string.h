// A wide character array of fixed capacity with its length kept beside it.
// Assignment copies up to the first NUL or the capacity, always terminates,
// and cuts longer texts.
#pragma once

#include <cstddef>
#include <cwchar>

template <size_t Capacity>
class FixedString {
public:
    static constexpr size_t kCapacity = Capacity;

    FixedString() { text_[0] = 0; }
    explicit FixedString(const wchar_t* s) { Assign(s); }

    const wchar_t* Assign(const wchar_t* s) { return Assign(s, Capacity); }
    // Copies at most count characters (and never past a NUL).
    const wchar_t* Assign(const wchar_t* s, size_t count) {
        size_t n = 0;
        if (s) {
            if (count > Capacity) count = Capacity;
            while (n < count && s[n]) {
                text_[n] = s[n];
                ++n;
            }
        }
        text_[n] = 0;
        length_ = n;
        return text_;
    }

    const wchar_t* c_str() const { return text_; }
    wchar_t* data() { return text_; }
    size_t length() const { return length_; }
    bool empty() const { return length_ == 0; }

private:
    wchar_t text_[Capacity + 1];
    size_t length_ = 0;
};
