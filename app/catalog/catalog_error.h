#pragma once

#include <exception>

namespace orlune {

// The catalog endpoint answered, but not with a relay list the app can use (wrong status, a
// body that is not UTF-8 text, or a page that is not VPN Gate's list). Existing data is kept.
class CatalogError : public std::exception {
public:
    enum class Kind { invalidResponse };

    static CatalogError invalidResponse() { return CatalogError(Kind::invalidResponse); }

    Kind kind() const noexcept { return kind_; }
    const char* what() const noexcept override;

    friend bool operator==(const CatalogError& a, const CatalogError& b) { return a.kind_ == b.kind_; }

private:
    explicit CatalogError(Kind kind) : kind_(kind) {}
    Kind kind_;
};

}  // namespace orlune
