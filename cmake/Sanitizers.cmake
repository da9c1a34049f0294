# Applies BRELVIK_SANITIZER to everything built after this point.
if(BRELVIK_SANITIZER)
  add_compile_options(-fsanitize=${BRELVIK_SANITIZER} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${BRELVIK_SANITIZER})
  if(BRELVIK_SANITIZER MATCHES "undefined")
    # Halt on the first report instead of printing and going on.
    add_compile_options(-fno-sanitize-recover=all)
  endif()
endif()

# Registers a static library from every source in the calling folder.
function(brelvik_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources MATCHES "\\.cpp")
    # A folder whose code is still to come builds as an empty library.
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp "")
    list(APPEND sources ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE brelvik_warnings)
endfunction()
