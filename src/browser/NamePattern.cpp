#include "browser/NamePattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace vindaru {

struct NamePattern::Code {
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_match_data* data = nullptr;
    ~Code() {
        if (data) pcre2_match_data_free(data);
        if (context) pcre2_match_context_free(context);
        if (code) pcre2_code_free(code);
    }
};

void NamePattern::CodeDeleter::operator()(Code* code) const { delete code; }

NamePattern::~NamePattern() = default;
NamePattern::NamePattern(NamePattern&&) noexcept = default;
NamePattern& NamePattern::operator=(NamePattern&&) noexcept = default;

bool NamePattern::compile(std::string_view pattern) {
    code_.reset();
    limitHits_ = 0;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    // Names from a disk may hold invalid UTF-8 after conversion slips; MATCH_INVALID_UTF keeps
    // them matchable instead of failing the whole search.
    const std::uint32_t options = PCRE2_CASELESS | PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF |
                                  PCRE2_ALT_BSUX;
    pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                         options, &error, &errorOffset, nullptr);
    if (!compiled) return false;
    auto code = std::unique_ptr<Code, CodeDeleter>(new Code);
    code->code = compiled;
    code->context = pcre2_match_context_create(nullptr);
    code->data = pcre2_match_data_create_from_pattern(compiled, nullptr);
    if (!code->context || !code->data) return false;
    pcre2_set_match_limit(code->context, kMatchLimit);
    pcre2_set_depth_limit(code->context, kDepthLimit);
    code_ = std::move(code);
    return true;
}

bool NamePattern::matches(std::string_view name) const {
    if (!code_) return false;
    const int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(name.data()), name.size(), 0,
                               0, code_->data, code_->context);
    if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
        rc == PCRE2_ERROR_HEAPLIMIT)
        ++limitHits_;
    return rc >= 0;
}

} // namespace vindaru
