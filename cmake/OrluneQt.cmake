# Qt and QCoro for the app and its tests. Included only where ORLUNE_BUILD_APP is on, so a
# service-only build never needs them. (Imported targets are visible per directory, hence
# one include in each tree that uses them.)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Network Concurrent)
find_package(QCoro6 REQUIRED COMPONENTS Core Network)
