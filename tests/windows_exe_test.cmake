# Checks of the cross-built Windows executable, run by CTest in the Windows build tree:
#   cmake -DCHECK=manifest -DEXE=... -DVERSION=0.2a -DVERSION_QUAD=0.2.0.0 -P windows_exe_test.cmake
#   cmake -DCHECK=run -DEXE=... -DEMULATOR=wine_run.sh|PREFIX -DWORK_DIR=... -P windows_exe_test.cmake
#   cmake -DCHECK=sim -DEXE=... -DEMULATOR=... -DNATIVE_EXE=... -DWORK_DIR=... -P windows_exe_test.cmake
cmake_minimum_required(VERSION 3.25)

set(failures 0)
macro(fail text)
    message(SEND_ERROR "${text}")
    math(EXPR failures "${failures} + 1")
endmacro()

if(CHECK STREQUAL "manifest")
    # The manifest is stored as plain text in the resource section; the GUIDs are Windows' own
    # identifiers of Vista, 7, 8, 8.1 and 10.
    file(STRINGS "${EXE}" lines REGEX "requestedExecutionLevel|supportedOS")
    string(JOIN "\n" manifest ${lines})
    if(NOT manifest MATCHES "level=\"requireAdministrator\"")
        fail("no requireAdministrator in ${EXE}")
    endif()
    foreach(guid e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a
                 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78
                 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a)
        if(NOT manifest MATCHES "supportedOS Id=\"{${guid}}\"")
            fail("supportedOS ${guid} missing from ${EXE}")
        endif()
    endforeach()
    # The build's version: four numbers in the manifest, the text in the version resource (UTF-16).
    file(STRINGS "${EXE}" identity REGEX "<assemblyIdentity ")
    if(NOT identity MATCHES "version=\"${VERSION_QUAD}\"")
        fail("the manifest of ${EXE} does not carry version ${VERSION_QUAD}: ${identity}")
    endif()
    # (Only texts that look like a version: others may hold list separators.)
    file(STRINGS "${EXE}" texts ENCODING UTF-16LE LENGTH_MINIMUM 3 REGEX "^[0-9][0-9A-Za-z.]*$")
    list(FIND texts "${VERSION}" found)
    if(found EQUAL -1)
        fail("the version resource of ${EXE} does not carry ${VERSION}")
    endif()

elseif(CHECK STREQUAL "run")
    # Wine shows drive 0 on a non-USB bus (status 3) and no drive 1 (status 2), so both end at
    # the USB check. The console is never a console here (input comes from the null device), so
    # the closing prompt must end by itself instead of waiting for a key.
    string(REPLACE "|" ";" emulator "${EMULATOR}")
    set(banner "Torvik usb/pssd flash id v0\\.2a by tarn\nOS: -?[0-9]+\\.-?[0-9]+ build -?[0-9]+ [^\n]*\n")
    set(not_usb "Drive interface is not USB, exit!")
    set(closing "\nPress any key to exit or Space to open full text report\n")
    # argument | expected exit status | expected output (a regular expression of the whole output)
    set(cases
        "0y|3|^${banner}${not_usb}$"
        "1Y|2|^${banner}${not_usb}$"
        "0|3|^${banner}${not_usb}${closing}$"
        "|2|^${banner}Use: torvik_usb_pssd_flash_id\\[b\\]\\[y\\]\n.*Please select drive number:\nError: no drive number given \\(end of input\\)\n$"
    )
    foreach(case IN LISTS cases)
        string(REPLACE "|" ";" fields "${case}")
        list(GET fields 0 argument)
        list(GET fields 1 status)
        list(GET fields 2 pattern)
        file(REMOVE_RECURSE "${WORK_DIR}")
        file(MAKE_DIRECTORY "${WORK_DIR}")
        if(argument STREQUAL "")
            set(args)
        else()
            set(args "${argument}")
        endif()
        # The output is read with its CRLF line ends turned into LF.
        execute_process(COMMAND ${emulator} "${EXE}" ${args}
                        WORKING_DIRECTORY "${WORK_DIR}"
                        INPUT_FILE /dev/null
                        OUTPUT_VARIABLE output
                        ERROR_VARIABLE errors
                        RESULT_VARIABLE result
                        TIMEOUT 60)
        if(NOT result STREQUAL status)
            fail("'${argument}': exit status ${result}, expected ${status}\n${output}${errors}")
        endif()
        if(NOT output MATCHES "${pattern}")
            fail("'${argument}': unexpected output:\n${output}")
        endif()
        if(EXISTS "${WORK_DIR}/torvik_usb_pssd_flash_id.txt")
            fail("'${argument}': a report file was written for a drive that is not on USB")
        endif()
    endforeach()

elseif(CHECK STREQUAL "sim")
    # Every simulated drive gives the same files on Windows as on the build machine: the dumps
    # byte for byte, the two text files line for line with CRLF line ends, and the same console
    # output. Only the OS line differs, as it names the system the tool runs on; both runs take
    # place at one pinned time, which the manifest records.
    string(REPLACE "|" ";" emulator "${EMULATOR}")
    execute_process(COMMAND "${NATIVE_EXE}" --sim=list OUTPUT_VARIABLE listing
                    RESULT_VARIABLE result)
    string(REGEX MATCHALL "(^|\n)[a-z0-9-]+" profiles "${listing}")
    list(TRANSFORM profiles STRIP)
    if(NOT result EQUAL 0 OR NOT "default" IN_LIST profiles)
        fail("no profile list from ${NATIVE_EXE}: ${listing}")
    endif()
    foreach(profile IN LISTS profiles)
        file(REMOVE_RECURSE "${WORK_DIR}")
        foreach(side native windows)
            file(MAKE_DIRECTORY "${WORK_DIR}/${side}")
            if(side STREQUAL "native")
                set(command "${NATIVE_EXE}")
            else()
                set(command ${emulator} "${EXE}")
            endif()
            set(command "${CMAKE_COMMAND}" -E env SOURCE_DATE_EPOCH=1773480413 ${command})
            execute_process(COMMAND ${command} --sim=${profile} 0y
                            WORKING_DIRECTORY "${WORK_DIR}/${side}"
                            INPUT_FILE /dev/null
                            OUTPUT_VARIABLE console_${side}
                            RESULT_VARIABLE status_${side}
                            TIMEOUT 60)
            string(REGEX REPLACE "OS: [^\n]*\n" "OS:\n" console_${side} "${console_${side}}")
            file(GLOB files_${side} RELATIVE "${WORK_DIR}/${side}" "${WORK_DIR}/${side}/*")
            list(SORT files_${side})
        endforeach()
        if(NOT status_windows STREQUAL status_native)
            fail("${profile}: exit status ${status_windows} on Windows, ${status_native} here")
        endif()
        if(NOT console_windows STREQUAL console_native)
            fail("${profile}: the console output differs:\n${console_windows}")
        endif()
        if(NOT files_windows STREQUAL files_native OR files_native STREQUAL "")
            fail("${profile}: files ${files_windows} on Windows, ${files_native} here")
            continue()
        endif()
        foreach(name IN LISTS files_native)
            if(name MATCHES "\\.txt$")
                # file(READ) drops carriage returns, so the line ends are checked by size: none
                # here, one before every line feed on Windows.
                foreach(side native windows)
                    file(READ "${WORK_DIR}/${side}/${name}" ${side})
                    file(SIZE "${WORK_DIR}/${side}/${name}" size)
                    string(LENGTH "${${side}}" length)
                    string(REGEX MATCHALL "\n" line_feeds "${${side}}")
                    list(LENGTH line_feeds lines)
                    math(EXPR carriage_returns "${size} - ${length}")
                    set(cr_${side} ${carriage_returns})
                    set(lf_${side} ${lines})
                endforeach()
                if(NOT cr_native EQUAL 0 OR NOT cr_windows EQUAL lf_windows)
                    fail("${profile}: ${name} has ${cr_windows} CRs for ${lf_windows} lines on "
                         "Windows, ${cr_native} here")
                endif()
                foreach(side native windows)
                    string(REGEX REPLACE "OS: [^\n]*\n" "OS:\n" ${side} "${${side}}")
                endforeach()
                if(NOT windows STREQUAL native)
                    fail("${profile}: ${name} differs")
                endif()
            else()
                file(SHA256 "${WORK_DIR}/native/${name}" native)
                file(SHA256 "${WORK_DIR}/windows/${name}" windows)
                if(NOT windows STREQUAL native)
                    fail("${profile}: ${name} differs")
                endif()
            endif()
        endforeach()
    endforeach()

else()
    message(FATAL_ERROR "CHECK must be manifest, run or sim")
endif()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} check(s) failed")
endif()
