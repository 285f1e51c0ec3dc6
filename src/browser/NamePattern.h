// The name search's pattern: a regular expression, case-insensitive, matched anywhere in a
// name. It is compiled with PCRE2, which takes the ECMAScript syntax users type (alternation,
// classes, groups, quantifiers, anchors) and, unlike a backtracking engine without limits,
// bounds the work of one match: a pathological pattern such as (a+)+$ against a long name
// gives up after kMatchLimit steps (the name is then taken as not matching) instead of freezing
// the search.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vindaru {

class NamePattern {
public:
    // Steps of the matcher per name, and its backtracking depth: far beyond any sane pattern
    // on a file name, small enough that one name costs milliseconds at worst.
    static constexpr std::uint32_t kMatchLimit = 200000;
    static constexpr std::uint32_t kDepthLimit = 2000;

    NamePattern() = default;
    ~NamePattern();
    NamePattern(NamePattern&&) noexcept;
    NamePattern& operator=(NamePattern&&) noexcept;

    // False when the text is not a valid expression.
    bool compile(std::string_view pattern);
    bool valid() const { return code_ != nullptr; }
    // True when a match of the pattern occurs anywhere in `name` (UTF-8).
    bool matches(std::string_view name) const;
    // Names whose match hit the step limit (counted as not matching).
    std::uint64_t limitHits() const { return limitHits_; }

private:
    struct Code;
    struct CodeDeleter {
        void operator()(Code* code) const;
    };
    std::unique_ptr<Code, CodeDeleter> code_;
    mutable std::uint64_t limitHits_ = 0;
};

} // namespace vindaru
