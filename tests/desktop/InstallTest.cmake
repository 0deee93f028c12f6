# cmake -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=... -DICON_SIZES=16,24,... -DAPPSTREAMCLI=... -P InstallTest.cmake
# Installs the build into an empty PREFIX and checks that exactly the
# program's files land there, where a desktop looks for them.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (is zuxfiler built?):\n${out}")
endif()

set(expected
  bin/zuxfiler
  share/applications/${APP_ID}.desktop
  share/metainfo/${APP_ID}.metainfo.xml
  share/man/man1/zuxfiler.1
  share/icons/hicolor/scalable/apps/zuxfiler.svg)
string(REPLACE "," ";" ICON_SIZES "${ICON_SIZES}")
foreach(size ${ICON_SIZES})
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/zuxfiler.png)
endforeach()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)

set(missing ${expected})
list(REMOVE_ITEM missing ${found})
set(extra ${found})
list(REMOVE_ITEM extra ${expected})
if(missing OR extra)
  list(JOIN missing "\n  " missing)
  list(JOIN extra "\n  " extra)
  message(FATAL_ERROR "missing:\n  ${missing}\nnot expected:\n  ${extra}")
endif()

# The installed tree as software centres read it: the metadata finds its
# desktop entry and icon there.
if(NOT APPSTREAMCLI OR APPSTREAMCLI MATCHES "-NOTFOUND$")
  message(FATAL_ERROR "appstreamcli is missing; tools/install-deps.sh test installs it")
endif()
execute_process(COMMAND ${APPSTREAMCLI} validate-tree --no-net --strict ${PREFIX}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate-tree:\n${out}")
endif()
file(REMOVE_RECURSE ${PREFIX})
