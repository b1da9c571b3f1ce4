# kestro view (included from the kestro folder, whose target it adds to): the server and its page,
# built into kestro. The server is Debian's cpp-httplib, a compiled library whose header needs the
# definitions it was built with: pkg-config gives both.
find_package(PkgConfig REQUIRED)
# GLOBAL: the tests talk to the server through the same library.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
find_package(Threads REQUIRED)

set(view_dir ${CMAKE_CURRENT_SOURCE_DIR}/view)
set(page ${view_dir}/page)
set(assets
  "index.html|text/html|${page}/index.html"
  "view.js|text/javascript|${page}/view.js"
  "view.css|text/css|${page}/view.css")
set(generated ${CMAKE_CURRENT_BINARY_DIR}/view/ViewAssets.cpp)
add_custom_command(OUTPUT ${generated}
  COMMAND ${CMAKE_COMMAND} "-DOUTPUT=${generated}" "-DASSETS=${assets}" -P ${view_dir}/EmbedAssets.cmake
  DEPENDS ${page}/index.html ${page}/view.js ${page}/view.css ${view_dir}/EmbedAssets.cmake
  COMMENT "Building the view's page into kestro"
  VERBATIM)
target_sources(kestro PRIVATE ${view_dir}/ViewCommand.cpp ${view_dir}/ViewServer.cpp ${generated})
target_include_directories(kestro PRIVATE ${view_dir})
target_link_libraries(kestro PRIVATE PkgConfig::HTTPLIB Threads::Threads)
