# Compile settings shared by every target of the project. Targets link this
# interface library instead of the project setting global flags.
add_library(toolkit_options INTERFACE)
target_compile_features(toolkit_options INTERFACE cxx_std_17)
target_compile_options(toolkit_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(toolkit_options INTERFACE
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00)

if(TOOLKIT_SANITIZE)
    target_compile_options(toolkit_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(toolkit_options INTERFACE -fsanitize=address,undefined)
endif()
