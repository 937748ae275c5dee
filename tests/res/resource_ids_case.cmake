# One case of the resource-id header generator, run as
#   cmake -DCASE=name -DSOURCE_DIR=... -DWORK=folder -P resource_ids_case.cmake
# A good case checks the header it made; every other case must stop with an
# error (its CTest entry expects the failure).
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/ResourceIds.cmake)
file(MAKE_DIRECTORY ${WORK})
# 104 is both a string and a dialog; 1002 is a control of dialog 104; 999
# appears only inside a string's text and 1003 only inside a dialog title.
file(WRITE ${WORK}/strings.txt "# 300 \"a comment, not a string\"\n101 \"Ferrodex\"\n104 \"See 999 and 105\"\n")
file(WRITE ${WORK}/dialogs.txt "dialog 104 \"Add group 1003\"\n  static 1001 \"New group:\"\n  edit 1002 \"\" limit=255\nend\n")

set(names_good "# a comment\n\nIDS_NAME 101\nIDS_OTHER 104\nIDD_GROUP 104\nIDC_GROUP_NAME 1002\n")
set(names_string_missing "IDS_NOWHERE 999\n")
set(names_string_in_comment "IDS_COMMENTED 300\n")
set(names_dialog_is_a_control "IDD_WRONG 1002\n")
set(names_control_is_a_dialog "IDC_WRONG 104\n")
set(names_control_in_a_title "IDC_TITLE 1003\n")
set(names_named_twice "IDS_NAME 101\nIDS_NAME 104\n")
set(names_unknown_kind "IDX_NAME 101\n")
set(names_lower_case "IDS_name 101\n")
set(names_no_number "IDS_NAME\n")
set(names_trailing_text "IDS_NAME 101 extra\n")
if(NOT DEFINED names_${CASE})
  message(FATAL_ERROR "no case ${CASE}")
endif()
file(WRITE ${WORK}/ids.txt "${names_${CASE}}")
file(REMOVE ${WORK}/ids.h)
fdx_resource_ids(NAMES ${WORK}/ids.txt STRINGS ${WORK}/strings.txt DIALOGS ${WORK}/dialogs.txt OUTPUT ${WORK}/ids.h)

if(CASE STREQUAL "good")
  file(READ ${WORK}/ids.h header)
  foreach(line "inline constexpr unsigned int IDS_NAME = 101;" "inline constexpr unsigned int IDS_OTHER = 104;"
               "inline constexpr int IDD_GROUP = 104;" "inline constexpr int IDC_GROUP_NAME = 1002;")
    string(FIND "${header}" "${line}\n" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "the header lacks \"${line}\":\n${header}")
    endif()
  endforeach()
  string(REGEX MATCHALL "constexpr" lines "${header}")
  list(LENGTH lines count)
  if(NOT count EQUAL 4)
    message(FATAL_ERROR "the header has ${count} names instead of 4:\n${header}")
  endif()
endif()
