# The activation console `Corvane` (included from console/CMakeLists.txt).
#   corvane_console  the window, its four lines and the configuration files;
#                    the program and the console tests link it.
#   Corvane          the program.
# Built once the serial port component, the toolkit helpers (with the
# application object) and the instance limiter exist.
if(CORVANE_WITH_QT AND TARGET corvane_serial AND TARGET corvane_toolkit AND TARGET corvane_instance)
  corvane_add_qt_program(corvane_console Corvane ${CMAKE_CURRENT_LIST_DIR}/main.cpp
    SOURCES
      ${CMAKE_CURRENT_LIST_DIR}/uDataType.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineLog.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uCardSettings.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uConsoleLine.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineChain.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineBringUp.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineIdle.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineStk.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uStkText.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineCalls.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineSms.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineManual.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uLineDeadline.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uAtLines.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uzCorvaneV4.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uzCorvaneV4Settings.cpp
      ${CMAKE_CURRENT_LIST_DIR}/uSeting.cpp
      ${CMAKE_SOURCE_DIR}/resources/TfzCorvaneV4.ui
      ${CMAKE_SOURCE_DIR}/resources/TfSeting.ui
    LINK corvane_serial corvane_toolkit corvane_const corvane_instance corvane_platform)
endif()
