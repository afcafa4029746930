#include "catalogue/catalogue.h"

namespace tarnwick {

namespace {
// Constructed when the library is loaded, destroyed when it is unloaded,
// with whatever it still holds.
Catalogue catalogue;
}  // namespace

Catalogue& TheCatalogue() { return catalogue; }

}  // namespace tarnwick
