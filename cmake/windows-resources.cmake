# kronex_add_windows_resources(<target>): the icon and version block of
# kronex-atu (app/kronex-atu.rc), with the project's version, on <target>.
# Does nothing outside Windows.
set(_kronex_resources_dir ${CMAKE_CURRENT_LIST_DIR}/../app)

function(kronex_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  set(generated ${PROJECT_BINARY_DIR}/resources)
  configure_file(${_kronex_resources_dir}/kronex_version.h.in ${generated}/kronex_version.h @ONLY)
  target_sources(${target} PRIVATE ${_kronex_resources_dir}/kronex-atu.rc)
  # The resource compiler finds the header and the icon through these.
  target_include_directories(${target} PRIVATE ${generated} ${_kronex_resources_dir})
endfunction()
