# Builds pugixml, SQLite and GoogleTest from source for platforms without packaged builds (MinGW),
# under the same target names the packaged builds give, so the rest of the build is unchanged.
# VELMORA_THIRD_PARTY_DIR holds what tools/windows/third-party.sh prepared.
set(_tp "${VELMORA_THIRD_PARTY_DIR}")
foreach(f pugixml/pugixml.cpp sqlite/sqlite3.c httplib/httplib.h)
  if(NOT EXISTS "${_tp}/${f}")
    message(FATAL_ERROR "VELMORA_THIRD_PARTY_DIR: ${_tp}/${f} is missing; run tools/windows/third-party.sh ${_tp}")
  endif()
endforeach()

add_library(velmora_pugixml STATIC "${_tp}/pugixml/pugixml.cpp")
target_include_directories(velmora_pugixml SYSTEM PUBLIC "${_tp}/pugixml")
add_library(pugixml::pugixml ALIAS velmora_pugixml)

add_library(velmora_sqlite3 STATIC "${_tp}/sqlite/sqlite3.c")
target_include_directories(velmora_sqlite3 SYSTEM PUBLIC "${_tp}/sqlite")
target_compile_definitions(velmora_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(velmora_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS velmora_sqlite3)

# Header-only cpp-httplib for the gateway simulator.
add_library(velmora_httplib INTERFACE)
target_include_directories(velmora_httplib SYSTEM INTERFACE "${_tp}/httplib")
if(WIN32)
  target_link_libraries(velmora_httplib INTERFACE ws2_32 crypt32)
  target_compile_definitions(velmora_httplib INTERFACE _WIN32_WINNT=0x0A00)
endif()

set(VELMORA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
