# Read by cpack for each package it makes, after the version given to it (-D) is known.
# The program needs one of its faces; apt takes the first for an upgrade from the package that
# held the IBus component, so that a person on IBus keeps it.
set(CPACK_DEBIAN_TOLVANI_PACKAGE_DEPENDS
    "tolvani-ibus (= ${CPACK_PACKAGE_VERSION}) | tolvani-fcitx5 (= ${CPACK_PACKAGE_VERSION})")
# IBus itself starts the program. The component was the program's package's until this version.
set(CPACK_DEBIAN_IBUS_PACKAGE_DEPENDS "tolvani (= ${CPACK_PACKAGE_VERSION}), ibus")
set(CPACK_DEBIAN_IBUS_PACKAGE_BREAKS "tolvani (<< ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_IBUS_PACKAGE_REPLACES "tolvani (<< ${CPACK_PACKAGE_VERSION})")
set(CPACK_DEBIAN_FCITX5_PACKAGE_DEPENDS "tolvani (= ${CPACK_PACKAGE_VERSION}), fcitx5")
