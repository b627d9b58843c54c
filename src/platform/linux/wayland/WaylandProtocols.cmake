# The Wayland protocols the session code speaks, turned into C by wayland-scanner at build time.
# The descriptions come from Debian packages where one ships them, otherwise from protocols/ here.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

file(GLOB candidates LIST_DIRECTORIES true
  "/usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable")
set(MURLEX_WLR_PROTOCOLS_DIR "")
if(candidates)
  list(SORT candidates COMPARE NATURAL)
  list(POP_BACK candidates MURLEX_WLR_PROTOCOLS_DIR)
endif()
if(NOT MURLEX_WLR_PROTOCOLS_DIR)
  message(FATAL_ERROR "the wlroots protocol descriptions are missing (Debian package librust-wayland-protocols-dev)")
endif()
set(MURLEX_PLASMA_PROTOCOLS_DIR "/usr/share/plasma-wayland-protocols")

# Adds the client header and the glue code of the protocol described by XML to TARGET, as
# <name>-client-protocol.h in the target's generated include directory.
function(murlex_wayland_protocol TARGET XML NAME)
  if(NOT EXISTS "${XML}")
    message(FATAL_ERROR "Wayland protocol description ${XML} not found")
  endif()
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/generated/wayland")
  file(MAKE_DIRECTORY "${dir}")
  add_custom_command(
    OUTPUT "${dir}/${NAME}-client-protocol.h" "${dir}/${NAME}-protocol.c"
    COMMAND "${WAYLAND_SCANNER}" client-header "${XML}" "${dir}/${NAME}-client-protocol.h"
    COMMAND "${WAYLAND_SCANNER}" private-code "${XML}" "${dir}/${NAME}-protocol.c"
    DEPENDS "${XML}" VERBATIM)
  target_sources(${TARGET} PRIVATE "${dir}/${NAME}-client-protocol.h" "${dir}/${NAME}-protocol.c")
  target_include_directories(${TARGET} PRIVATE "${dir}")
endfunction()

set(here "${CMAKE_CURRENT_SOURCE_DIR}/platform/linux/wayland/protocols")
murlex_wayland_protocol(murlex_platform "${MURLEX_WLR_PROTOCOLS_DIR}/wlr-data-control-unstable-v1.xml" wlr-data-control)
murlex_wayland_protocol(murlex_platform "${MURLEX_WLR_PROTOCOLS_DIR}/wlr-foreign-toplevel-management-unstable-v1.xml"
                        wlr-foreign-toplevel)
murlex_wayland_protocol(murlex_platform "${here}/ext-data-control-v1.xml" ext-data-control)
murlex_wayland_protocol(murlex_platform "${here}/virtual-keyboard-unstable-v1.xml" virtual-keyboard)
murlex_wayland_protocol(murlex_platform "${MURLEX_PLASMA_PROTOCOLS_DIR}/fake-input.xml" fake-input)
