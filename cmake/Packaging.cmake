# Installing and packaging: the man pages, the Debian documentation files and
# the driver's odbcinst template (made from packaging/), the driver's
# registration by `cmake --install`, and the two Debian packages that cpack
# builds from the install rules:
#   tabrook          the program, its dialog module, help page, icons,
#                    desktop entry and man page (component "program");
#   odbc-velkor-xls  the Excel ODBC driver, its odbcinst template, man page
#                    and README, and the maintainer scripts that register it
#                    (component "driver").
# Every version (packages, man pages, changelog, the driver's SQL_DRIVER_VER)
# is the project's. Dates come from SOURCE_DATE_EPOCH when it is set.
include(GNUInstallDirs)

set(TABROOK_PACKAGE_MAINTAINER "Tabrook developers <tabrook@example.org>" CACHE STRING
  "Maintainer named in the Debian packages and their changelog")
set(TABROOK_PROGRAM_PACKAGE tabrook)
set(TABROOK_DRIVER_PACKAGE odbc-velkor-xls)

get_directory_property(TABROOK_DRIVER_NAME DIRECTORY "${PROJECT_SOURCE_DIR}/xlsodbc"
  DEFINITION XLSODBC_DRIVER_NAME)
get_directory_property(TABROOK_DRIVER_NAME_XLSX DIRECTORY "${PROJECT_SOURCE_DIR}/xlsodbc"
  DEFINITION XLSODBC_DRIVER_NAME_XLSX)
set(_driver_libdir "${CMAKE_INSTALL_LIBDIR}/odbc")
set(_driver_datadir "${CMAKE_INSTALL_DATADIR}/${TABROOK_DRIVER_PACKAGE}")
set(TABROOK_DRIVER_LIBRARY "${CMAKE_INSTALL_FULL_LIBDIR}/odbc/$<TARGET_FILE_NAME:xlsodbc>")
set(TABROOK_DRIVER_TEMPLATE "${CMAKE_INSTALL_FULL_DATADIR}/${TABROOK_DRIVER_PACKAGE}/odbcinst.ini")
string(TIMESTAMP TABROOK_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP TABROOK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(_src "${PROJECT_SOURCE_DIR}/packaging")
set(_out "${CMAKE_BINARY_DIR}/packaging")

# tabrook_packaging_file(NAME): packaging/NAME.in with its @VARIABLES@ and
# then its generator expressions filled in, as <build>/packaging/NAME.
function(tabrook_packaging_file name)
  configure_file("${_src}/${name}.in" "${_out}/configured/${name}" @ONLY)
  file(GENERATE OUTPUT "${_out}/${name}" INPUT "${_out}/configured/${name}")
endfunction()

set(TABROOK_MAN_HELP "${CMAKE_INSTALL_FULL_DATADIR}/tabrook/tabrookhelp.htm")
set(TABROOK_MAN_DIALOG "${CMAKE_INSTALL_FULL_LIBDIR}/tabrook/tabrook-dialog.so")
foreach(_name tabrook.1 velkor-xls.7 changelog odbcinst.ini postinst prerm)
  tabrook_packaging_file(${_name})
endforeach()

# Man pages and changelogs are installed compressed, as Debian keeps them.
set(_gzipped)
foreach(_name tabrook.1 velkor-xls.7 changelog)
  add_custom_command(OUTPUT "${_out}/${_name}.gz"
    COMMAND gzip -9nkf "${_out}/${_name}"
    DEPENDS "${_out}/${_name}" VERBATIM)
  list(APPEND _gzipped "${_out}/${_name}.gz")
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${_gzipped})

# The program.
install(FILES "${_out}/tabrook.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT program)
install(FILES "${_src}/copyright" "${_out}/changelog.gz"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${TABROOK_PROGRAM_PACKAGE}" COMPONENT program)

# The driver.
install(FILES "${_out}/odbcinst.ini" DESTINATION "${_driver_datadir}" COMPONENT driver)
install(FILES "${_out}/velkor-xls.7.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man7" COMPONENT driver)
install(FILES "${_src}/copyright" "${_out}/changelog.gz" "${PROJECT_SOURCE_DIR}/xlsodbc/README.md"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${TABROOK_DRIVER_PACKAGE}" COMPONENT driver)

# `cmake --install` registers the driver system-wide with the installed
# template, written again for the prefix of this install (`--prefix` may
# differ from the configured one). A staged install (DESTDIR) and the
# packages leave registration to the package's scripts: cpack installs only
# the two components above.
install(CODE "
  if(NOT \"\$ENV{DESTDIR}\" STREQUAL \"\")
    message(STATUS \"DESTDIR set: not registering ${TABROOK_DRIVER_NAME}\")
  else()
    set(TABROOK_DRIVER_NAME \"${TABROOK_DRIVER_NAME}\")
    set(TABROOK_DRIVER_NAME_XLSX \"${TABROOK_DRIVER_NAME_XLSX}\")
    set(TABROOK_DRIVER_LIBRARY \"\${CMAKE_INSTALL_PREFIX}/${_driver_libdir}/$<TARGET_FILE_NAME:xlsodbc>\")
    set(_template \"\${CMAKE_INSTALL_PREFIX}/${_driver_datadir}/odbcinst.ini\")
    file(READ \"${_src}/odbcinst.ini.in\" _text)
    string(CONFIGURE \"\${_text}\" _text @ONLY)
    file(WRITE \"\${_template}\" \"\${_text}\")
    execute_process(COMMAND odbcinst -i -d -f \"\${_template}\" RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(WARNING \"odbcinst could not register ${TABROOK_DRIVER_NAME} (exit \${_rc})\")
    endif()
  endif()
" COMPONENT driver-registration)

# The packages.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program driver)
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TABROOK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies are read from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_COMPONENT_PROGRAM_DEPENDS driver)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME "${TABROOK_PROGRAM_PACKAGE}")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
"convert a worksheet of an Excel workbook into delimited text
Tabrook converts one worksheet of an Excel workbook (.xlsx and .xlsm:
Excel 2007 and later; .xls: Excel 97-2003, 5/95 or 2.x-4.0) into a
delimited text file: a header line of
column names, then one line per record, in ANSI, UTF-8 or UTF-16 and with
Windows, Unix or Mac line endings. It reads the workbook through ODBC, with
the Velkor Excel Driver.
.
Run with arguments it converts without a window and logs every problem;
run without arguments it shows a dialog (Qt), which only then is loaded.")

set(CPACK_DEBIAN_DRIVER_PACKAGE_NAME "${TABROOK_DRIVER_PACKAGE}")
set(CPACK_DEBIAN_DRIVER_PACKAGE_SECTION database)
# The maintainer scripts run odbcinst, which no binary links; libgcrypt is
# opened at run time for encrypted workbooks, so no binary links it either.
set(CPACK_DEBIAN_DRIVER_PACKAGE_DEPENDS "odbcinst, libgcrypt20")
set(CPACK_DEBIAN_DRIVER_PACKAGE_CONTROL_EXTRA "${_out}/postinst;${_out}/prerm")
set(CPACK_DEBIAN_DRIVER_DESCRIPTION
"read-only ODBC driver for Excel .xlsx, .xlsm and .xls workbooks
The Velkor Excel Driver (*.xls) lets any unixODBC program (isql, pyodbc,
LibreOffice Base, R's odbc) read Excel 2007 and later (.xlsx, .xlsm) and
Excel 97-2003, 5/95 and 2.x-4.0 (.xls) workbooks:
each worksheet and defined name is a table that SELECT * FROM [Sheet1$]
reads, every cell's value as text. The package registers the driver with
unixODBC.")

include(CPack)
