# Read by cpack for each package it makes, after the version given to it (-D) is known.
set(CPACK_DEBIAN_FCITX5_PACKAGE_DEPENDS "tolvani (= ${CPACK_PACKAGE_VERSION}), fcitx5")
