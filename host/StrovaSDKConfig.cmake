# The host SDK's CMake package: Strova::HostApi (headers), Strova::Tr,
# Strova::Config, Strova::Network and Strova::Log4Qt.
include(CMakeFindDependencyMacro)
find_dependency(Qt5 5.15 COMPONENTS Core)
include(${CMAKE_CURRENT_LIST_DIR}/StrovaSDKTargets.cmake)
