#pragma once

#include <QTextStream>

#include <memory>

#include "catalog/catalog_access.h"
#include "model/app_model.h"
#include "model/preferences.h"

// What the window and the command line set up alike: one catalog access, one model.
namespace orlune::app {

// The catalog refresh and the profile download share one access: the same mirrors, proxy and
// kept catalog. Preference changes apply to the next download.
std::shared_ptr<CatalogAccess> makeCatalogAccess(Preferences& preferences, QTextStream& err);
std::unique_ptr<AppModel> makeModel(Preferences& preferences, std::shared_ptr<CatalogAccess> catalogAccess);
void nameApplication();
// An endpoints file that cannot be used stops the program: falling back to the public services
// is exactly what its author meant to avoid.
bool useEndpointsFromEnvironment(QTextStream& err);

}  // namespace orlune::app
