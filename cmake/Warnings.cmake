# One target that carries the warning flags into every target of the project.
add_library(brelvik_warnings INTERFACE)
target_compile_options(brelvik_warnings INTERFACE
  -Wall        # the common set
  -Wextra      # and the less common
  -Wpedantic   # no compiler extensions
  -Werror      # a warning fails the build
)
