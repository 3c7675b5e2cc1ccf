# Hamlib for the Windows build, made with this toolchain's mingw-w64 from a Hamlib release's
# source (its tarball or unpacked folder): Debian packages no Hamlib for mingw-w64.
#
# Making it takes 18 minutes of CPU (ten on two free cores), so it is made once per source and
# kept outside the build folder, keyed by what decides the result (the source's sha256, the
# compiler's path and version, the host and the flags), where other build folders and later
# runs of the same user find it. A cache folder someone else could write is not used: Hamlib
# is then made in the build folder. It is made at configure time, not as a build step: what goes beside
# Velkor.exe (the DLL and the DLLs it imports, found with objdump) must be known to the
# install rules and the program folder, and the build has nothing to do in parallel with it
# that make -jN does not already keep the cores busy with.
#
#   pasotune_hamlib_from_source(SOURCE PREFIX_VAR SHIP_VAR)
#
# sets PREFIX_VAR to the finished prefix, Hamlib's install (include/, lib/, bin/, and logs/
# with the build's output), and SHIP_VAR to a folder of the build folder with what goes beside
# Velkor.exe: libhamlib-4.dll stripped, the mingw-w64 DLLs it imports that Windows lacks, and
# the licences of both.

set(PASOTUNE_HAMLIB_CACHE "" CACHE PATH
  "Where Hamlib builds made from HAMLIB_SOURCE are kept (empty: \$XDG_CACHE_HOME/pasotune or ~/.cache/pasotune)")

# The flags leave out what needs libraries Debian has no mingw-w64 build of.
set(pasotune_hamlib_configure_flags
  --without-cxx-binding --without-libusb --without-samplerate --without-readline
  --without-indi --without-xml-support --disable-static)

# A folder's hash: every file's path and hash, in order (.git left out).
function(_pasotune_hamlib_tree_hash dir out)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
  list(FILTER files EXCLUDE REGEX "(^|/)\\.git(/|$)")
  list(SORT files)
  set(manifest "")
  foreach(f IN LISTS files)
    file(SHA256 "${dir}/${f}" h)
    string(APPEND manifest "${h}  ${f}\n")
  endforeach()
  string(SHA256 h "${manifest}")
  set(${out} ${h} PARENT_SCOPE)
endfunction()

# One step of the build, its output in LOG; a failure ends the configure with the log's tail.
function(_pasotune_hamlib_step what log dir)
  message(STATUS "Hamlib for Windows: ${what} ...")
  string(TIMESTAMP t0 %s)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${dir}"
    OUTPUT_FILE "${log}" ERROR_FILE "${log}" RESULT_VARIABLE rc)
  string(TIMESTAMP t1 %s)
  math(EXPR seconds "${t1} - ${t0}")
  if(NOT rc EQUAL 0)
    file(STRINGS "${log}" lines)
    list(LENGTH lines n)
    if(n GREATER 30)
      math(EXPR first "${n} - 30")
      list(SUBLIST lines ${first} 30 lines)
    endif()
    list(JOIN lines "\n" tail)
    message(FATAL_ERROR "${tail}\nHamlib for Windows: ${what} failed (${rc}) after ${seconds} s; "
      "its whole output is in ${log}")
  endif()
  message(STATUS "Hamlib for Windows: ${what} took ${seconds} s")
endfunction()

# Text for Notepad: CR LF line ends.
function(_pasotune_hamlib_write_text path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${path}" "${text}")
endfunction()

# DLL copies beside libhamlib-4.dll and rigctld.exe in SHIP: the DLLs they import (and those
# they import) that mingw-w64 provides, each with its Debian copyright file; any other import
# is Windows' own.
function(_pasotune_hamlib_runtime_dlls ship)
  execute_process(COMMAND ${PASOTUNE_HAMLIB_CC} -print-libgcc-file-name
    OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(gcc_lib_dir "${libgcc}" DIRECTORY)
  set(candidates)
  foreach(dir /usr/${PASOTUNE_MINGW}/lib /usr/${PASOTUNE_MINGW}/bin "${gcc_lib_dir}")
    file(GLOB found "${dir}/*.dll")
    list(APPEND candidates ${found})
  endforeach()
  find_program(PASOTUNE_DPKG dpkg)

  file(GLOB queue "${ship}/*.dll" "${ship}/*.exe")
  set(seen)
  while(queue)
    list(POP_FRONT queue dll)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p "${dll}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "Hamlib for Windows: ${CMAKE_OBJDUMP} cannot read ${dll}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(import IN LISTS imports)
      string(REGEX REPLACE "^DLL Name: *" "" import "${import}")
      string(STRIP "${import}" import)
      string(TOLOWER "${import}" wanted)
      if(wanted IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${wanted})
      foreach(candidate IN LISTS candidates)
        get_filename_component(name "${candidate}" NAME)
        string(TOLOWER "${name}" name_lower)
        if(name_lower STREQUAL wanted)
          file(COPY "${candidate}" DESTINATION "${ship}")
          list(APPEND queue "${ship}/${name}")
          message(STATUS "Hamlib for Windows: ${import} goes with it, from ${candidate}")
          get_filename_component(base "${name}" NAME_WE)
          set(owner "")
          if(PASOTUNE_DPKG)
            execute_process(COMMAND ${PASOTUNE_DPKG} -S "${candidate}"
              OUTPUT_VARIABLE owner ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
            string(REGEX REPLACE ":.*" "" owner "${owner}")
          endif()
          set(copyright /usr/share/doc/${owner}/copyright)
          if(owner AND EXISTS "${copyright}")
            file(READ "${copyright}" text)
            string(CONCAT text "${name} is Debian's, from its package ${owner} "
              "(source: apt-get source ${owner}). Its copyright and licence follow.\n\n" "${text}")
            _pasotune_hamlib_write_text("${ship}/${base}-COPYING.txt" "${text}")
          else()
            message(WARNING "Hamlib for Windows: no licence found for ${candidate}; "
              "say where it comes from beside it before shipping it")
          endif()
          break()
        endif()
      endforeach()
    endforeach()
  endwhile()
endfunction()

# Why someone else could put files into DIR or swap what it holds, or empty: as the launcher
# checks the program's data folder, DIR is a folder (not a link) of the user's own that no
# other user may write (its group only if it is the user's own group); each folder above its
# real path is the user's or root's, and writable by others only when sticky, as /tmp.
function(_pasotune_hamlib_unsafe dir out)
  execute_process(COMMAND id -u OUTPUT_VARIABLE me OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND id -g OUTPUT_VARIABLE my_group OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(${out} "" PARENT_SCOPE)
  if(IS_SYMLINK "${dir}" OR NOT IS_DIRECTORY "${dir}")
    set(${out} "${dir} is not a folder" PARENT_SCOPE)
    return()
  endif()
  get_filename_component(dir "${dir}" REALPATH)
  set(above FALSE)
  while(TRUE)
    execute_process(COMMAND stat -c "%u;%g;%a;%U" -- "${dir}" OUTPUT_VARIABLE st
      OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      set(${out} "cannot look at ${dir}" PARENT_SCOPE)
      return()
    endif()
    list(GET st 0 uid)
    list(GET st 1 gid)
    list(GET st 2 mode)
    list(GET st 3 owner)
    string(LENGTH "${mode}" n)
    math(EXPR last "${n} - 1")
    math(EXPR group_at "${n} - 2")
    string(SUBSTRING "${mode}" ${last} 1 others)
    string(SUBSTRING "${mode}" ${group_at} 1 group)
    set(sticky FALSE)
    if(n EQUAL 4)
      string(SUBSTRING "${mode}" 0 1 special)
      string(FIND "1357" "${special}" sticky_at)
      if(above AND sticky_at GREATER -1)
        set(sticky TRUE)
      endif()
    endif()
    if(NOT uid STREQUAL me AND (NOT above OR NOT uid STREQUAL "0"))
      set(${out} "${dir} belongs to ${owner}" PARENT_SCOPE)
      return()
    elseif(NOT sticky AND others MATCHES "[2367]")
      set(${out} "others may write in ${dir}" PARENT_SCOPE)
      return()
    elseif(NOT sticky AND group MATCHES "[2367]" AND NOT gid STREQUAL my_group)
      set(${out} "another group may write in ${dir}" PARENT_SCOPE)
      return()
    endif()
    if(dir STREQUAL "/")
      break()
    endif()
    get_filename_component(dir "${dir}" DIRECTORY)
    set(above TRUE)
  endwhile()
endfunction()

# Within pasotune_hamlib_from_source: a prefix whose stamp matches is shipped and the function
# returns (a macro, so its return() leaves the caller).
macro(_pasotune_hamlib_reuse_if_made note)
  if(EXISTS "${stamp_file}")
    file(READ "${stamp_file}" found)
    if(found STREQUAL stamp)
      message(STATUS "Hamlib for Windows: reusing ${prefix}${note}")
      _pasotune_hamlib_ship("${prefix}" "${source}" "${hash}" ship)
      set(${ship_out} "${ship}" PARENT_SCOPE)
      return()
    endif()
  endif()
endmacro()

function(pasotune_hamlib_from_source source out ship_out)
  if(NOT EXISTS "${source}")
    message(FATAL_ERROR "HAMLIB_SOURCE=${source}: no such file or folder")
  endif()
  if(CMAKE_C_COMPILER)
    set(PASOTUNE_HAMLIB_CC ${CMAKE_C_COMPILER})
  else()
    string(REGEX REPLACE "g\\+\\+([^/]*)$" "gcc\\1" PASOTUNE_HAMLIB_CC "${CMAKE_CXX_COMPILER}")
  endif()
  if(NOT PASOTUNE_MINGW)
    set(PASOTUNE_MINGW x86_64-w64-mingw32)
  endif()

  if(IS_DIRECTORY "${source}")
    message(STATUS "Hamlib for Windows: hashing the source folder ${source}")
    _pasotune_hamlib_tree_hash("${source}" hash)
  else()
    file(SHA256 "${source}" hash)
  endif()
  # What else decides the result: a change here makes it again, in a folder of its own.
  list(JOIN pasotune_hamlib_configure_flags " " flags)
  execute_process(COMMAND ${PASOTUNE_HAMLIB_CC} --version OUTPUT_VARIABLE cc_version
    ERROR_QUIET RESULT_VARIABLE rc)
  string(REGEX MATCH "^[^\n]*" cc_version "${cc_version}")
  if(NOT rc EQUAL 0 OR NOT cc_version)
    message(FATAL_ERROR "Hamlib for Windows: ${PASOTUNE_HAMLIB_CC} --version failed")
  endif()
  string(CONCAT stamp "source sha256 ${hash}\ncompiler ${PASOTUNE_HAMLIB_CC} ${cc_version}\n"
    "host ${PASOTUNE_MINGW}\nconfigure ${flags}\n")

  set(cache "${PASOTUNE_HAMLIB_CACHE}")
  if(NOT cache)
    if(DEFINED ENV{XDG_CACHE_HOME} AND IS_ABSOLUTE "$ENV{XDG_CACHE_HOME}")
      set(cache "$ENV{XDG_CACHE_HOME}/pasotune")
    else()
      set(cache "$ENV{HOME}/.cache/pasotune")
    endif()
  endif()
  string(SHA256 key "${stamp}")
  string(SUBSTRING "${key}" 0 16 key)
  file(MAKE_DIRECTORY "${cache}")
  _pasotune_hamlib_unsafe("${cache}" why)
  if(NOT why AND (EXISTS "${cache}/hamlib-w64-${key}" OR IS_SYMLINK "${cache}/hamlib-w64-${key}"))
    _pasotune_hamlib_unsafe("${cache}/hamlib-w64-${key}" why)
  endif()
  if(why)
    set(aside "${CMAKE_BINARY_DIR}/hamlib-cache")
    message(WARNING "Hamlib for Windows: not using ${cache}: ${why}; making Hamlib in ${aside}")
    set(cache "${aside}")
    file(MAKE_DIRECTORY "${cache}")
    _pasotune_hamlib_unsafe("${cache}" why)
    if(why)
      message(FATAL_ERROR "Hamlib for Windows: not using ${cache} either: ${why}")
    endif()
  endif()
  set(prefix "${cache}/hamlib-w64-${key}")
  set(${out} "${prefix}" PARENT_SCOPE)

  # A finished prefix is renamed into place whole, stamp included, so one with the right stamp
  # is complete.
  set(stamp_file "${prefix}/pasotune-hamlib.stamp")
  _pasotune_hamlib_reuse_if_made("")

  # One maker at a time; the lock goes with the process, however it ends. CMake's lock
  # follows a link: one at its name is removed, never written through.
  if(IS_SYMLINK "${prefix}.lock")
    file(REMOVE "${prefix}.lock")
  endif()
  file(LOCK "${prefix}.lock" GUARD FUNCTION TIMEOUT 0 RESULT_VARIABLE locked)
  if(NOT locked EQUAL 0)
    message(STATUS "Hamlib for Windows: waiting for another configure making ${prefix}")
    file(LOCK "${prefix}.lock" GUARD FUNCTION)
  endif()
  _pasotune_hamlib_reuse_if_made(", just made by another configure")

  find_program(PASOTUNE_AUTORECONF autoreconf)
  find_program(PASOTUNE_MAKE NAMES make gmake)
  if(NOT PASOTUNE_MAKE)
    message(FATAL_ERROR "Hamlib for Windows needs make (scripts/setup-debian.sh installs it)")
  endif()

  # Whatever an interrupted run left is thrown away.
  set(work "${prefix}.tmp")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}/logs" "${work}/build")
  string(TIMESTAMP started %s)

  if(IS_DIRECTORY "${source}")
    file(COPY "${source}/" DESTINATION "${work}/src" PATTERN .git EXCLUDE)
    set(top "${work}/src")
  else()
    message(STATUS "Hamlib for Windows: unpacking ${source}")
    file(ARCHIVE_EXTRACT INPUT "${source}" DESTINATION "${work}/src")
    file(GLOB top LIST_DIRECTORIES true "${work}/src/*")
    list(LENGTH top n)
    if(NOT n EQUAL 1)
      set(top "${work}/src")
    endif()
  endif()
  if(NOT EXISTS "${top}/include/hamlib/rig.h" OR NOT EXISTS "${top}/configure.ac")
    message(FATAL_ERROR "HAMLIB_SOURCE=${source} is not a Hamlib source (no include/hamlib/rig.h)")
  endif()
  file(STRINGS "${top}/configure.ac" init REGEX "^AC_INIT\\(")
  string(REGEX MATCH "\\[Hamlib\\], *\\[([^]]+)\\]" _ "${init}")
  set(version "${CMAKE_MATCH_1}")
  message(STATUS "Hamlib for Windows: making Hamlib ${version} once, into ${prefix} "
    "(18 minutes of CPU: ten on two free cores; later configures reuse it)")

  # A release tarball has its configure; a snapshot of the repository needs bootstrapping.
  if(NOT EXISTS "${top}/configure")
    if(NOT PASOTUNE_AUTORECONF)
      message(FATAL_ERROR "Hamlib's source has no configure yet, and bootstrapping it needs "
        "autoconf, automake, libtool and texinfo (scripts/setup-debian.sh installs them)")
    endif()
    _pasotune_hamlib_step(bootstrap "${work}/logs/bootstrap.log" "${top}" sh ./bootstrap)
  endif()
  # Flags meant for the machine's own compiler must not reach mingw-w64's.
  set(env ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=CFLAGS --unset=CPPFLAGS
    --unset=LDFLAGS --unset=CXXFLAGS --unset=LIBS)
  _pasotune_hamlib_step(configure "${work}/logs/configure.log" "${work}/build"
    ${env} CC=${PASOTUNE_HAMLIB_CC} "${top}/configure" --host=${PASOTUNE_MINGW}
    "--prefix=${prefix}" ${pasotune_hamlib_configure_flags})
  cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
  _pasotune_hamlib_step("make -j${jobs}" "${work}/logs/make.log" "${work}/build"
    ${env} ${PASOTUNE_MAKE} -j${jobs})
  # Installed under a staging root and renamed into place, so the prefix only ever appears
  # whole (and the files that name it name the final place).
  set(stage "${work}/stage")
  _pasotune_hamlib_step("make install" "${work}/logs/install.log" "${work}/build"
    ${env} ${PASOTUNE_MAKE} install "DESTDIR=${stage}")
  set(staged "${stage}${prefix}")

  if(NOT EXISTS "${staged}/bin" OR NOT EXISTS "${staged}/share/doc/hamlib/COPYING.LIB")
    message(FATAL_ERROR "Hamlib for Windows: make install left no bin/ or COPYING.LIB in ${staged}")
  endif()
  file(COPY "${work}/logs" DESTINATION "${staged}")
  file(WRITE "${staged}/pasotune-hamlib.stamp" "${stamp}")
  file(REMOVE_RECURSE "${prefix}")
  file(RENAME "${staged}" "${prefix}")
  file(REMOVE_RECURSE "${work}")
  string(TIMESTAMP finished %s)
  math(EXPR seconds "${finished} - ${started}")
  message(STATUS "Hamlib for Windows: Hamlib ${version} made in ${seconds} s, in ${prefix}")
  _pasotune_hamlib_ship("${prefix}" "${source}" "${hash}" ship)
  set(${ship_out} "${ship}" PARENT_SCOPE)
endfunction()

# What goes beside Velkor.exe, made afresh in the build folder when the prefix changes.
function(_pasotune_hamlib_ship prefix source hash out)
  set(ship "${CMAKE_BINARY_DIR}/hamlib-ship")
  set(${out} "${ship}" PARENT_SCOPE)
  file(READ "${prefix}/pasotune-hamlib.stamp" stamp)
  string(APPEND stamp "from ${source}\nwith rigctld.exe\n")
  if(EXISTS "${ship}.stamp")
    file(READ "${ship}.stamp" found)
    if(found STREQUAL stamp)
      return()
    endif()
  endif()
  file(REMOVE_RECURSE "${ship}" "${ship}.stamp")
  file(MAKE_DIRECTORY "${ship}")

  file(GLOB dll "${prefix}/bin/libhamlib-*.dll")
  if(NOT dll)
    message(FATAL_ERROR "Hamlib for Windows: no bin/libhamlib-*.dll in ${prefix}")
  endif()
  get_filename_component(dll_name "${dll}" NAME)
  execute_process(COMMAND ${CMAKE_STRIP} -o "${ship}/${dll_name}" "${dll}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Hamlib for Windows: ${CMAKE_STRIP} failed on ${dll}")
  endif()
  # Velkor.exe runs Hamlib's rigctld for every radio but the TS-790, so a crash in Hamlib's
  # serial code ends rigctld, not the engine.
  execute_process(COMMAND ${CMAKE_STRIP} -o "${ship}/rigctld.exe" "${prefix}/bin/rigctld.exe"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Hamlib for Windows: no rigctld.exe in ${prefix}/bin")
  endif()

  file(STRINGS "${prefix}/lib/pkgconfig/hamlib.pc" version REGEX "^Version:")
  string(REGEX REPLACE "^Version: *" "" version "${version}")
  if(IS_DIRECTORY "${source}")
    set(built_from "a folder of its source")
  else()
    get_filename_component(source_name "${source}" NAME)
    set(built_from "${source_name} (sha256 ${hash})")
  endif()
  list(JOIN pasotune_hamlib_configure_flags " " flags)
  file(READ "${prefix}/share/doc/hamlib/COPYING.LIB" lgpl)
  get_filename_component(dll_base "${dll_name}" NAME_WE)
  string(CONCAT text
    "${dll_name} is Hamlib ${version} (https://hamlib.github.io/), free software under the "
    "GNU Lesser General Public License, version 2.1 or later, which follows.\n"
    "Its source: https://github.com/Hamlib/Hamlib/releases/tag/${version} "
    "and https://sourceforge.net/projects/hamlib/files/hamlib/${version}/ ; "
    "this copy was built unchanged from ${built_from} with MinGW-w64, configured with "
    "${flags}.\n\n" "${lgpl}")
  _pasotune_hamlib_write_text("${ship}/${dll_base}-COPYING.txt" "${text}")
  _pasotune_hamlib_runtime_dlls("${ship}")
  file(WRITE "${ship}.stamp" "${stamp}")
endfunction()
