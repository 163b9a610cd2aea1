#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// A tagged value that carries one setting or one archive field: empty, text or a number. Text is
// UTF-8. A variant is a value: copying it copies its text.
class TlVariant {
  public:
    enum class Kind : std::uint8_t { Empty = 0, Text = 1, Number = 2 };

    // Empty, the state of a newly created map entry.
    TlVariant() = default;
    // Text: a private copy.
    TlVariant(std::string text) : kind_(Kind::Text), text_(std::move(text)) {}
    TlVariant(std::string_view text) : kind_(Kind::Text), text_(text) {}
    TlVariant(const char* text) : kind_(Kind::Text), text_(text != nullptr ? text : "") {}
    // A 32-bit number fills the low half only; the high half stays 0.
    TlVariant(std::int32_t number)
        : kind_(Kind::Number), value_(static_cast<std::uint32_t>(number)) {}
    TlVariant(std::uint32_t number) : kind_(Kind::Number), value_(number) {}
    // A 64-bit number fills both halves.
    TlVariant(std::int64_t number)
        : kind_(Kind::Number), value_(static_cast<std::uint64_t>(number)) {}

    Kind kind() const { return kind_; }
    bool IsEmpty() const { return kind_ == Kind::Empty; }
    bool IsText() const { return kind_ == Kind::Text; }
    bool IsNumber() const { return kind_ == Kind::Number; }

    // Reading as a number: a number gives its value, any other kind 0.
    std::int64_t AsInt64() const {
        return kind_ == Kind::Number ? static_cast<std::int64_t>(value_) : 0;
    }
    // The low 32 bits of the number, as a signed value (what settings and the message kind use).
    std::int32_t AsInt32() const {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(AsInt64()));
    }
    // Reading as text: a text gives its text, any other kind the empty text.
    const std::string& AsText() const {
        static const std::string empty;
        return kind_ == Kind::Text ? text_ : empty;
    }

    friend bool operator==(const TlVariant&, const TlVariant&) = default;

  private:
    Kind kind_ = Kind::Empty;
    std::uint64_t value_ = 0;
    std::string text_;
};
