# The registry stand-in answers the project's own version: generate it from PROJECT_VERSION.
configure_file(${CMAKE_CURRENT_LIST_DIR}/ProductVersion.hpp.in
               ${PROJECT_BINARY_DIR}/generated/win32/ProductVersion.hpp @ONLY)
target_include_directories(ombrix_core PUBLIC ${PROJECT_BINARY_DIR}/generated)
