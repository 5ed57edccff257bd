# Layer rules of the build, checked at configure time: the core layers are plain C++, may never
# reach Qt, and link only downwards; and every folder includes project headers (by their path
# from the root) only from the folders its rule below allows.

set(ORVELAN_CORE_TARGETS "" CACHE INTERNAL "")

# The core layers from the bottom up: a core library links only libraries of its own folder or
# of folders below it, so that every arrow points down.
set(ORVELAN_CORE_LAYERS lib winlib params remote stats serverdata)

# orvelan_core_library(NAME SOURCES...): a library of a Qt-free layer (its folder names the layer).
function(orvelan_core_library name)
  get_filename_component(layer ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(NOT layer IN_LIST ORVELAN_CORE_LAYERS)
    message(FATAL_ERROR "Core library ${name} lies in ${layer}/, which is no core layer")
  endif()
  add_library(${name} STATIC ${ARGN})
  set_target_properties(${name} PROPERTIES ORVELAN_LAYER ${layer})
  set(ORVELAN_CORE_TARGETS ${ORVELAN_CORE_TARGETS} ${name} CACHE INTERNAL "")
endfunction()

# Fails the configuration when a core library links a core library of a higher layer.
function(_orvelan_points_down target)
  get_target_property(layer ${target} ORVELAN_LAYER)
  list(FIND ORVELAN_CORE_LAYERS ${layer} rank)
  get_target_property(deps ${target} LINK_LIBRARIES)
  if(NOT deps)
    return()
  endif()
  foreach(dep ${deps})
    if(dep IN_LIST ORVELAN_CORE_TARGETS)
      get_target_property(depLayer ${dep} ORVELAN_LAYER)
      list(FIND ORVELAN_CORE_LAYERS ${depLayer} depRank)
      if(depRank GREATER rank)
        message(FATAL_ERROR "Layer arrow points up: ${target} (${layer}/) links ${dep} (${depLayer}/)")
      endif()
    endif()
  endforeach()
endfunction()

# Walks the link closure of a target and fails the configuration when any
# dependency is a Qt library, so that a Qt include below app/ cannot build.
function(_orvelan_qt_free target chain)
  if(NOT TARGET ${target})
    if(target MATCHES "Qt[0-9]*|libQt")
      message(FATAL_ERROR "Core layer links Qt: ${chain} -> ${target}")
    endif()
    return()
  endif()
  get_target_property(aliased ${target} ALIASED_TARGET)
  if(aliased)
    set(target ${aliased})
  endif()
  if(target MATCHES "^Qt[0-9]*::|^Qt[0-9]")
    message(FATAL_ERROR "Core layer links Qt: ${chain} -> ${target}")
  endif()
  get_target_property(type ${target} TYPE)
  set(props INTERFACE_LINK_LIBRARIES)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    list(APPEND props LINK_LIBRARIES)
  endif()
  foreach(prop ${props})
    get_target_property(deps ${target} ${prop})
    if(deps)
      foreach(dep ${deps})
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
        if(NOT dep MATCHES "^\\$<" AND NOT dep MATCHES "^-")
          _orvelan_qt_free(${dep} "${chain} -> ${dep}")
        endif()
      endforeach()
    endif()
  endforeach()
endfunction()

function(orvelan_check_core_layers)
  foreach(t ${ORVELAN_CORE_TARGETS}) # first: a cycle between layers is an upward arrow
    _orvelan_points_down(${t})
  endforeach()
  foreach(t ${ORVELAN_CORE_TARGETS})
    _orvelan_qt_free(${t} ${t})
    get_target_property(dirs ${t} INCLUDE_DIRECTORIES)
    foreach(d ${dirs})
      if(d MATCHES "[Qq]t6")
        message(FATAL_ERROR "Core layer ${t} has a Qt include directory: ${d}")
      endif()
    endforeach()
  endforeach()
endfunction()

# What each folder may include: "folder:allowed folders:qt" where qt is "qt" when the folder may
# include Qt. tests/, bench/ and res/ are not checked; console/ is the composition root and sees
# everything of the program. Pages and the application shell reach the server only through the
# data layer (serverdata/, stats/), never through the remote link.
set(ORVELAN_INCLUDE_RULES
  "lib:lib:"
  "winlib:lib winlib:"
  "params:lib winlib params:"
  "remote:lib winlib params remote:"
  "stats:lib winlib params remote stats:"
  "serverdata:lib winlib params remote stats serverdata:"
  "server:lib winlib params remote server:"
  "tools:lib winlib params remote stats serverdata tools:"
  "widgets:widgets:qt"
  "app:lib winlib params stats serverdata widgets app:qt"
  "pages:lib winlib params stats serverdata widgets app pages:qt"
  "console:lib winlib params remote stats serverdata widgets app pages console:qt")

# Fails the configuration when a source includes a project header of a folder its rule does not
# allow, a project header by a bare name, or (outside the Qt folders) a Qt header.
function(orvelan_check_includes)
  foreach(rule ${ORVELAN_INCLUDE_RULES})
    string(REPLACE ":" ";" parts "${rule}")
    list(GET parts 0 folder)
    list(GET parts 1 allowed)
    list(LENGTH parts n)
    set(qt "")
    if(n GREATER 2)
      list(GET parts 2 qt)
    endif()
    string(REPLACE " " ";" allowed "${allowed}")
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS
      ${CMAKE_SOURCE_DIR}/${folder}/*.cpp ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    foreach(src ${sources})
      file(STRINGS ${src} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
      file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR} ${src})
      foreach(inc ${includes})
        if(inc MATCHES "include[ \t]*\"([^\"/]+)/")
          if(NOT CMAKE_MATCH_1 IN_LIST allowed)
            message(FATAL_ERROR "Layer arrow points up: ${name} includes a header of ${CMAKE_MATCH_1}/: ${inc}")
          endif()
        elseif(inc MATCHES "include[ \t]*\"")
          message(FATAL_ERROR "${name}: project headers are included by their path from the root: ${inc}")
        elseif(NOT qt AND inc MATCHES "include[ \t]*<Q[A-Za-z]")
          message(FATAL_ERROR "Qt-free folder ${folder}/ includes Qt: ${name}: ${inc}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()
