# The codec manager loads drivers with dlopen (CMAKE_DL_LIBS is linked by the
# platform library already). Its last place to look is the installed library
# folder, where the driver is installed.
include(GNUInstallDirs)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/DriverLibrary.cpp PROPERTIES
  COMPILE_DEFINITIONS "HALVORA_DRIVER_INSTALL_DIR=\"${CMAKE_INSTALL_FULL_LIBDIR}/halvora\"")
