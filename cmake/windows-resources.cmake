# kronex_add_windows_resources(<target> <rc file>): the icon, the manifest and
# the version block (app/kronex_resources.rc, included by the program's own
# .rc), with the project's version, on <target>. Does nothing outside Windows.
set(_kronex_resources_dir ${CMAKE_CURRENT_LIST_DIR}/../app)

function(kronex_add_windows_resources target rc_file)
  if(NOT WIN32)
    return()
  endif()
  set(generated ${PROJECT_BINARY_DIR}/resources)
  configure_file(${_kronex_resources_dir}/kronex_version.h.in ${generated}/kronex_version.h @ONLY)
  target_sources(${target} PRIVATE ${rc_file})
  # The resource compiler finds the header, the shared part, the icon and the
  # manifest through these.
  target_include_directories(${target} PRIVATE ${generated} ${_kronex_resources_dir})
  # The manifest is ours: MSVC's linker must not make a second one.
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
  # The resources change when the parts the .rc includes do.
  set_property(SOURCE ${rc_file} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
    ${_kronex_resources_dir}/kronex_resources.rc ${_kronex_resources_dir}/kronex-atu.manifest
    ${_kronex_resources_dir}/kronex-update.manifest)
endfunction()
