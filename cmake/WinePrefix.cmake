# A private Wine prefix under the build tree for the Windows test programs:
# never the user's own prefix, never the user's real desktop.
set(KESTRIN_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(KESTRIN_WINEPREFIX ${KESTRIN_WINE_DIR}/prefix)
set(KESTRIN_WINEHOME ${KESTRIN_WINE_DIR}/home)

add_test(NAME wine_prefix_setup
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine.sh prefix ${KESTRIN_WINEPREFIX} ${KESTRIN_WINEHOME})
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 180)

function(kestrin_wine_test name)
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "WINEPREFIX=${KESTRIN_WINEPREFIX};HOME=${KESTRIN_WINEHOME}")
endfunction()
