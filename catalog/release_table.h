// The release as a read-only table of text entries by identifier.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kronex {

class ReleaseTable {
  public:
    ReleaseTable() = default;
    // `byId[i]` is the text of identifier i; `storage`, if given, owns the
    // characters the views point into.
    explicit ReleaseTable(std::vector<std::string_view> byId,
                          std::shared_ptr<const std::string> storage = nullptr)
        : byId_(std::move(byId)), storage_(std::move(storage)) {}

    // An identifier the table does not hold reads as the empty text.
    std::string_view entry(std::int64_t id) const {
        if (id < 0 || id >= static_cast<std::int64_t>(byId_.size()))
            return {};
        return byId_[static_cast<std::size_t>(id)];
    }

    // Every identifier at or past this one is absent, which bounds every walk.
    std::int64_t end() const { return static_cast<std::int64_t>(byId_.size()); }

  private:
    std::vector<std::string_view> byId_;
    std::shared_ptr<const std::string> storage_;
};

// Number of characters of a UTF-8 text (continuation bytes do not count).
inline std::size_t characterCount(std::string_view utf8) {
    std::size_t n = 0;
    for (const char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

} // namespace kronex
