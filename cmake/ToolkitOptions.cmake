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

if(TOOLKIT_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "TOOLKIT_FUZZ needs clang for libFuzzer: "
            "configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage feedback for libFuzzer from all the code a fuzz target runs.
    # Only the fuzz targets link libFuzzer itself (-fsanitize=fuzzer), so the
    # other programs of this build keep their own main().
    target_compile_options(toolkit_options INTERFACE -fsanitize=fuzzer-no-link)
    target_link_options(toolkit_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# toolkit_check_options(): fails the configuration when a compiled target of
# the project does not get toolkit_options, directly or through a library of
# the project, since a sanitized build would then leave that target out
# without a word. Called once every target has been defined.
function(toolkit_check_options)
    set(pending "${PROJECT_SOURCE_DIR}")
    set(targets "")
    while(pending)
        list(POP_FRONT pending directory)
        get_property(found DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
        get_property(children DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
        list(APPEND targets ${found})
        list(APPEND pending ${children})
    endwhile()
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
            continue()
        endif()
        # Breadth-first through the project's own libraries that it links.
        get_target_property(queue ${target} LINK_LIBRARIES)
        set(covered FALSE)
        while(queue AND NOT covered)
            list(POP_FRONT queue item)
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
            if(item STREQUAL "toolkit_options")
                set(covered TRUE)
            elseif(TARGET "${item}" AND item IN_LIST targets)
                get_target_property(more ${item} INTERFACE_LINK_LIBRARIES)
                if(more)
                    list(APPEND queue ${more})
                endif()
            endif()
        endwhile()
        if(NOT covered)
            message(FATAL_ERROR "target ${target} does not link toolkit_options")
        endif()
    endforeach()
endfunction()
