# Finds Debian's IFC++ (libifcplusplus-dev) and nlohmann-json for the IFC converter.
# Sets KB_HAVE_IFCPP and, when found, the imported target kb::ifcpp.
if(TARGET kb::ifcpp)
  set(KB_HAVE_IFCPP ON)
  return()
endif()

find_path(KB_IFCPP_INCLUDE_DIR ifcpp/model/BuildingModel.h)
find_path(KB_CARVE_INCLUDE_DIR carve/carve.hpp)
find_path(KB_NLOHMANN_INCLUDE_DIR nlohmann/json.hpp)
find_library(KB_IFCPP_LIBRARY IfcPlusPlus PATHS /usr/lib/ifcplusplus)
find_library(KB_CARVE_LIBRARY carve PATHS /usr/lib/ifcplusplus)

if(KB_IFCPP_INCLUDE_DIR AND KB_CARVE_INCLUDE_DIR AND KB_NLOHMANN_INCLUDE_DIR
   AND KB_IFCPP_LIBRARY AND KB_CARVE_LIBRARY)
  set(KB_HAVE_IFCPP ON)
  add_library(kb_ifcpp INTERFACE)
  add_library(kb::ifcpp ALIAS kb_ifcpp)
  target_include_directories(kb_ifcpp SYSTEM INTERFACE
    ${KB_IFCPP_INCLUDE_DIR} ${KB_CARVE_INCLUDE_DIR} ${KB_NLOHMANN_INCLUDE_DIR})
  target_link_libraries(kb_ifcpp INTERFACE ${KB_IFCPP_LIBRARY} ${KB_CARVE_LIBRARY})
else()
  set(KB_HAVE_IFCPP OFF)
  message(WARNING "IFC++ not found: ifc2snapshot and its tests are not built "
                  "(scripts/install-deps.sh installs libifcplusplus-dev)")
endif()
