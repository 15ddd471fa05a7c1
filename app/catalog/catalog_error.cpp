#include "catalog/catalog_error.h"

namespace orlune {

const char* CatalogError::what() const noexcept {
    // Read after a lead-in that ends in a colon and followed by ". ", so no final full stop.
    return "the catalog service did not return a valid VPN Gate relay list";
}

}  // namespace orlune
