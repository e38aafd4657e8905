# Deployment: `cmake --install <build> --prefix <folder>` lays out a program folder that runs on
# its own, and `cpack` (in the build folder) turns it into an installer: NSIS on Windows, a
# plain archive elsewhere.
#
# The program folder, as the program expects it beside its executable:
#   Panelhold(.exe), the console companion panelhold-cli(.exe), Resources/images/icon.png and
#   Logo.png, Contents/Support002 and
#   Contents/Support003 (Adobe's ExManCmd.exe with its files: not ours to ship; see
#   PANELHOLD_ADOBE_TOOL_DIR), and on Windows Qt's libraries and plugins (windeployqt: the
#   SQLite driver, the styles, the platform plugin) and the QuaZip, zlib and WinSparkle DLLs.
# The stand-in tool, the demo seeder and the tests are never installed.

set(PANELHOLD_ADOBE_TOOL_DIR "" CACHE PATH
    "A folder with Support002/ and Support003/ holding Adobe's ExManCmd.exe and its files, to put into the installed Contents/")

install(TARGETS Panelhold panelhold-cli RUNTIME DESTINATION .)
install(FILES ${PANELHOLD_IMAGES_DIR}/icon.png ${PANELHOLD_IMAGES_DIR}/Logo.png
        DESTINATION Resources/images)
foreach(generation_folder Support002 Support003)
    set(note ${CMAKE_BINARY_DIR}/generated/${generation_folder}-README.txt)
    file(WRITE ${note}
        "Adobe's command-line extension tool goes into this folder: ExManCmd.exe with all the\r\n"
        "files that come with it, the older generation's in Support002, the newer's in\r\n"
        "Support003. Panelhold runs Contents\\${generation_folder}\\ExManCmd.exe from here.\r\n")
    install(FILES ${note} DESTINATION Contents/${generation_folder} RENAME README.txt)
    if(PANELHOLD_ADOBE_TOOL_DIR AND IS_DIRECTORY ${PANELHOLD_ADOBE_TOOL_DIR}/${generation_folder})
        install(DIRECTORY ${PANELHOLD_ADOBE_TOOL_DIR}/${generation_folder}/
                DESTINATION Contents/${generation_folder})
    endif()
endforeach()

if(WIN32)
    # Qt's libraries and the plugins the program loads: the platform plugin, the styles
    # ("windowsvista" for the light theme, "Fusion" is built in) and the SQLite driver.
    get_target_property(panelhold_qmake Qt5::qmake IMPORTED_LOCATION)
    get_filename_component(panelhold_qt_bin ${panelhold_qmake} DIRECTORY)
    find_program(PANELHOLD_WINDEPLOYQT windeployqt HINTS ${panelhold_qt_bin} NO_DEFAULT_PATH)
    find_program(PANELHOLD_WINDEPLOYQT windeployqt)
    if(NOT PANELHOLD_WINDEPLOYQT)
        # A cross build has no windeployqt: Qt's DLLs and the plugins the program loads are
        # copied from Qt's own folders, and the compiler's runtime from beside Qt or the compiler.
        foreach(module Core Gui Widgets Network Sql Xml Concurrent)
            install(FILES $<TARGET_FILE:Qt5::${module}> DESTINATION .)
        endforeach()
        foreach(plugin platforms:QWindowsIntegrationPlugin styles:QWindowsVistaStylePlugin
                       sqldrivers:QSQLiteDriverPlugin imageformats:QICOPlugin
                       imageformats:QJpegPlugin imageformats:QGifPlugin)
            string(REPLACE ":" ";" plugin ${plugin})
            list(GET plugin 0 folder)
            list(GET plugin 1 target)
            if(TARGET Qt5::${target})
                install(FILES $<TARGET_FILE:Qt5::${target}> DESTINATION ${folder})
            else()
                message(WARNING "Qt's ${target} is missing: installing would leave it out")
            endif()
        endforeach()
        if(MINGW)
            foreach(runtime libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
                find_file(PANELHOLD_RUNTIME_${runtime} ${runtime} HINTS ${panelhold_qt_bin}
                          NO_DEFAULT_PATH NO_CACHE)
                execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                                OUTPUT_VARIABLE beside_compiler OUTPUT_STRIP_TRAILING_WHITESPACE)
                if(PANELHOLD_RUNTIME_${runtime})
                    install(FILES ${PANELHOLD_RUNTIME_${runtime}} DESTINATION .)
                elseif(IS_ABSOLUTE "${beside_compiler}" AND EXISTS "${beside_compiler}")
                    install(FILES ${beside_compiler} DESTINATION .)
                else()
                    message(WARNING "${runtime} not found: installing would leave it out")
                endif()
            endforeach()
        endif()
    else()
        install(CODE "
            set(program \"\${CMAKE_INSTALL_PREFIX}/$<TARGET_FILE_NAME:Panelhold>\")
            execute_process(
                COMMAND \"${PANELHOLD_WINDEPLOYQT}\"
                        $<IF:$<CONFIG:Debug>,--debug,--release> --compiler-runtime
                        --no-translations --no-system-d3d-compiler --no-opengl-sw
                        \"\${program}\"
                RESULT_VARIABLE result)
            if(NOT result EQUAL 0)
                message(FATAL_ERROR \"windeployqt failed (\${result})\")
            endif()
            foreach(plugin sqldrivers/qsqlite styles/qwindowsvistastyle platforms/qwindows)
                file(GLOB found \"\${CMAKE_INSTALL_PREFIX}/\${plugin}*.dll\")
                if(NOT found)
                    message(FATAL_ERROR \"windeployqt left out \${plugin}.dll\")
                endif()
            endforeach()
        ")
    endif()

    # The other libraries the program links as DLLs. Their import libraries are what CMake
    # knows; the DLLs sit beside them or in the bin folder next to their lib folder.
    set(panelhold_dll_dirs ${panelhold_qt_bin})
    foreach(library QuaZip::QuaZip ZLIB::ZLIB)
        if(TARGET ${library})
            get_target_property(type ${library} TYPE)
            if(type STREQUAL "SHARED_LIBRARY")
                install(FILES $<TARGET_FILE:${library}> DESTINATION .)
            endif()
            foreach(property IMPORTED_IMPLIB IMPORTED_IMPLIB_RELEASE IMPORTED_IMPLIB_DEBUG
                             IMPORTED_LOCATION IMPORTED_LOCATION_RELEASE IMPORTED_LOCATION_DEBUG)
                get_target_property(file ${library} ${property})
                if(file)
                    get_filename_component(dir ${file} DIRECTORY)
                    list(APPEND panelhold_dll_dirs ${dir} ${dir}/../bin)
                endif()
            endforeach()
        endif()
    endforeach()
    if(WINSPARKLE_LIBRARY)
        get_filename_component(dir ${WINSPARKLE_LIBRARY} DIRECTORY)
        list(APPEND panelhold_dll_dirs ${dir} ${dir}/../bin)
    endif()
    find_file(PANELHOLD_ZLIB_DLL NAMES zlib1.dll zlib.dll zlibd1.dll zlibd.dll libzlib.dll
              HINTS ${panelhold_dll_dirs})
    set(panelhold_dlls PANELHOLD_ZLIB_DLL)
    if(WINSPARKLE_LIBRARY AND WINSPARKLE_INCLUDE_DIR)
        find_file(PANELHOLD_WINSPARKLE_DLL NAMES WinSparkle.dll HINTS ${panelhold_dll_dirs})
        list(APPEND panelhold_dlls PANELHOLD_WINSPARKLE_DLL)
    endif()
    # An MSVC build needs the VC++ runtime on the user's machine; CMake knows where Visual
    # Studio keeps the redistributable DLLs and installs them beside the program.
    if(MSVC)
        set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION .)
        include(InstallRequiredSystemLibraries)
    endif()
    # Qt 5.15 loads OpenSSL 1.1 when it first speaks https; without these two DLLs https feeds
    # and downloads fail. Where they come from is said in the README.
    set(PANELHOLD_OPENSSL_DIR "" CACHE PATH
        "A folder with OpenSSL 1.1's libssl-1_1-x64.dll and libcrypto-1_1-x64.dll to install")
    foreach(name libssl-1_1-x64.dll libcrypto-1_1-x64.dll)
        find_file(PANELHOLD_OPENSSL_${name} ${name} HINTS ${PANELHOLD_OPENSSL_DIR}
                  ${panelhold_qt_bin} NO_DEFAULT_PATH NO_CACHE)
        if(PANELHOLD_OPENSSL_${name})
            install(FILES ${PANELHOLD_OPENSSL_${name}} DESTINATION .)
        elseif(MSVC)
            message(WARNING "${name} not found (set PANELHOLD_OPENSSL_DIR): https feeds and "
                            "downloads would fail in the installed program")
        endif()
    endforeach()

    foreach(dll ${panelhold_dlls})
        if(${dll})
            install(FILES ${${dll}} DESTINATION .)
        else()
            message(WARNING "${dll} not found: installing would leave it out (set ${dll} to it)")
        endif()
    endforeach()
endif()

# ---- the installer ------------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME Panelhold)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velmora's Panelhold: manages Adobe extensions")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Velmora Panelhold")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Panelhold)
set(CPACK_PACKAGE_EXECUTABLES Panelhold "Velmora's Panelhold")
if(WIN32)
    set(CPACK_GENERATOR NSIS)
else()
    set(CPACK_GENERATOR TGZ)
endif()

# A 64-bit installer for a 64-bit program: it installs under "Program Files", not its (x86)
# twin, and writes the registry's 64-bit view, which the program reads (it also runs where
# Windows or Wine has no 32-bit part). CPack has no setting for NSIS's Target and fills the
# defines itself, so it rides on the compressor's line.
set(CPACK_NSIS_COMPRESSOR "lzma\n  Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Velmora's Panelhold")
set(CPACK_NSIS_PACKAGE_NAME "Velmora's Panelhold")
set(CPACK_NSIS_MUI_ICON ${CMAKE_BINARY_DIR}/generated/panelhold.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_BINARY_DIR}/generated/panelhold.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME Panelhold.exe)
# The program lies in the installation folder itself, not in CPack's default "bin".
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# ".zxp", ".mxp" and ".ccx" (UXP plugins) open with Panelhold: Windows then starts it with the package as the only
# argument, which the program installs. The uninstaller gives the suffixes back to their
# previous owner only where they still point at us. These texts are read twice on their way into the NSIS script, hence four
# backslashes for one and \\\" for a double quote.
set(panelhold_progid "Velmora.Panelhold.Package")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${panelhold_progid}' '' 'Adobe extension package'
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${panelhold_progid}\\\\DefaultIcon' '' '$INSTDIR\\\\Panelhold.exe,0'
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${panelhold_progid}\\\\shell\\\\open\\\\command' '' '\\\"$INSTDIR\\\\Panelhold.exe\\\" \\\"%1\\\"'")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "")
# The suffix's owner before us is kept under our own key and given back on uninstalling.
set(panelhold_owners "Software\\\\Velmora\\\\Panelhold\\\\Previous owners")
foreach(suffix .zxp .mxp .ccx)
    string(APPEND CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  ReadRegStr $0 SHCTX 'Software\\\\Classes\\\\${suffix}' ''
  StrCmp $0 '${panelhold_progid}' +2 0
  WriteRegStr SHCTX '${panelhold_owners}' '${suffix}' $0
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${suffix}' '' '${panelhold_progid}'
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${suffix}\\\\OpenWithProgids' '${panelhold_progid}' ''")
    string(APPEND CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  DeleteRegValue SHCTX 'Software\\\\Classes\\\\${suffix}\\\\OpenWithProgids' '${panelhold_progid}'
  ReadRegStr $0 SHCTX 'Software\\\\Classes\\\\${suffix}' ''
  StrCmp $0 '${panelhold_progid}' 0 +6
  ReadRegStr $1 SHCTX '${panelhold_owners}' '${suffix}'
  StrCmp $1 '' 0 +3
  DeleteRegValue SHCTX 'Software\\\\Classes\\\\${suffix}' ''
  Goto +2
  WriteRegStr SHCTX 'Software\\\\Classes\\\\${suffix}' '' $1
  DeleteRegKey /ifempty SHCTX 'Software\\\\Classes\\\\${suffix}\\\\OpenWithProgids'
  DeleteRegKey /ifempty SHCTX 'Software\\\\Classes\\\\${suffix}'")
endforeach()
string(APPEND CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")
string(APPEND CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  DeleteRegKey SHCTX '${panelhold_owners}'
  DeleteRegKey /ifempty SHCTX 'Software\\\\Velmora\\\\Panelhold'
  DeleteRegKey /ifempty SHCTX 'Software\\\\Velmora'
  DeleteRegKey SHCTX 'Software\\\\Classes\\\\${panelhold_progid}'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'")

include(CPack)
