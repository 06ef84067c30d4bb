# Writes a help2man include file with each command's own --help, so the man page
# carries every option exactly as the program prints it. The commands are the
# ones its --help lists under "Commands:".
#   cmake -DPROGRAM=path -DOUTPUT=file.h2m -P ManSubcommands.cmake
function(help_of out)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 ${PROGRAM} ${ARGN}
                            --help
                    OUTPUT_VARIABLE help RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed")
    endif()
    set(${out} "${help}" PARENT_SCOPE)
endfunction()

help_of(overview)
string(REGEX MATCH "Commands:\n(  [^\n]+\n)+" block "${overview}")
string(REGEX MATCHALL "\n  [a-z][a-z-]*" found "${block}")
set(text "[COMMANDS IN DETAIL]\n")
get_filename_component(name ${PROGRAM} NAME)
foreach(entry ${found})
    string(STRIP "${entry}" command)
    help_of(help ${command})
    # roff: backslashes and hyphens escaped, a leading dot or quote made literal.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REPLACE "-" "\\-" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS \"${name} ${command}\"\n.nf\n${help}.fi\n")
endforeach()
if(NOT found)
    message(FATAL_ERROR "${PROGRAM} --help lists no commands")
endif()
file(WRITE ${OUTPUT} "${text}")
