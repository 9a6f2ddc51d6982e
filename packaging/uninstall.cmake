# Removes what the last install put down, as its manifest lists it, and the
# folders of the program folder that this leaves empty. Nothing else goes:
# not the page data and caches under the user's XDG folders, not the shared
# folders of the prefix, not a file the manifest does not name.
#   cmake -DMANIFEST=install_manifest.txt -DDESTDIR_FILE=install_destdir.txt
#         -DFOLDER=lib/pelko -P uninstall.cmake
# The manifest lists the files without the DESTDIR they were staged in; the
# uninstall must be given the same DESTDIR, or it would reach for the files
# of another install under the same prefix.
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} is missing (install first).")
endif()
set(_staged "")
if(EXISTS "${DESTDIR_FILE}")
  file(READ "${DESTDIR_FILE}" _staged)
endif()
if(NOT "$ENV{DESTDIR}" STREQUAL "${_staged}")
  message(FATAL_ERROR "The last install was made with DESTDIR=\"${_staged}\"; "
                      "uninstall it with the same DESTDIR.")
endif()
file(STRINGS "${MANIFEST}" _files)
list(TRANSFORM _files PREPEND "$ENV{DESTDIR}")
set(_folders)
foreach(_file IN LISTS _files)
  if(EXISTS "${_file}" OR IS_SYMLINK "${_file}")
    message(STATUS "Removing ${_file}")
    file(REMOVE "${_file}")
  else()
    message(STATUS "Already gone: ${_file}")
  endif()
  # The folders within the program folder, from the file's own up to it.
  string(FIND "${_file}" "/${FOLDER}/" _at REVERSE)
  if(_at GREATER -1)
    string(LENGTH "/${FOLDER}" _length)
    math(EXPR _end "${_at} + ${_length}")
    string(SUBSTRING "${_file}" 0 ${_end} _top)
    get_filename_component(_dir "${_file}" DIRECTORY)
    while(NOT _dir STREQUAL _top)
      list(APPEND _folders "${_dir}")
      get_filename_component(_dir "${_dir}" DIRECTORY)
    endwhile()
    list(APPEND _folders "${_top}")
  endif()
endforeach()
# Deepest first, so that a folder emptied of its folders goes too.
list(REMOVE_DUPLICATES _folders)
list(SORT _folders)
list(REVERSE _folders)
foreach(_dir IN LISTS _folders)
  file(GLOB _left "${_dir}/*" "${_dir}/.*")
  if(IS_DIRECTORY "${_dir}" AND NOT IS_SYMLINK "${_dir}" AND NOT _left)
    message(STATUS "Removing empty folder ${_dir}")
    file(REMOVE_RECURSE "${_dir}")
  elseif(IS_DIRECTORY "${_dir}")
    message(STATUS "Kept ${_dir}: it holds files the install did not put there")
  endif()
endforeach()
