# The tools suite runs the programs themselves: it needs them built and knows where they are.
add_dependencies(${SUITE_TARGET} korvenctl)
target_compile_definitions(${SUITE_TARGET} PRIVATE KORVENCTL_PATH="$<TARGET_FILE:korvenctl>")
