# The updater as a Windows Installer package (deploy/msi), built with wixl
# (Debian's msitools) where it is installed:
#
#   <build>/tamsel-update-<version>.msi   the product, x64, per machine
#
# and, in test configurations, the same package around the testbed in two
# versions for the end-to-end tier's install, upgrade and uninstall.
find_program(TAMSEL_WIXL wixl)
find_program(TAMSEL_MSIBUILD msibuild)
find_program(TAMSEL_ICONV iconv)
if(NOT TAMSEL_WIXL OR NOT TAMSEL_MSIBUILD OR NOT TAMSEL_ICONV)
  message(STATUS "wixl, msibuild or iconv not found: the MSI and its tests are left out")
  return()
endif()

# Task Scheduler reads a task definition as UTF-16, without the kit's comments.
set(tamsel_msi_task_xml "${CMAKE_BINARY_DIR}/msi/tamsel-update-task.xml")
add_custom_command(OUTPUT "${tamsel_msi_task_xml}"
  COMMAND "${CMAKE_COMMAND}" "-DFROM=${CMAKE_SOURCE_DIR}/deploy/tamsel-update-task.xml"
          "-DTO=${tamsel_msi_task_xml}.utf8" -P "${CMAKE_SOURCE_DIR}/cmake/msi-task-xml.cmake"
  COMMAND "${TAMSEL_ICONV}" -f UTF-8 -t UTF-16 -o "${tamsel_msi_task_xml}" "${tamsel_msi_task_xml}.utf8"
  DEPENDS "${CMAKE_SOURCE_DIR}/deploy/tamsel-update-task.xml" "${CMAKE_SOURCE_DIR}/cmake/msi-task-xml.cmake"
  COMMENT "Task definition for the MSI"
  VERBATIM)

# Never changes: every later package upgrades an earlier one in place.
set(TAMSEL_MSI_UPGRADE_CODE "{86FCA7E9-B383-473D-8D43-399DB4E1BEEF}")

#   tamsel_msi(<target> <output file> <executable target> <version a.b.c>)
function(tamsel_msi target out exe_target version)
  set(wxs "${CMAKE_SOURCE_DIR}/deploy/msi/tamsel-update.wxs")
  add_custom_command(OUTPUT "${out}"
    # wixl looks for sources only relative to the folder it runs in.
    COMMAND "${TAMSEL_WIXL}" -a x64 -D "Version=${version}" -D "UpgradeCode=${TAMSEL_MSI_UPGRADE_CODE}"
            -D "UpdaterExe=$<PATH:RELATIVE_PATH,$<TARGET_FILE:${exe_target}>,${CMAKE_BINARY_DIR}>"
            -D "TaskXml=msi/tamsel-update-task.xml" -o "${out}" "${wxs}"
    # What wixl 0.101 leaves out, put into the tables afterwards:
    # - no Secure attribute: the folder and the data switch must pass from
    #   the command line to a managed installation too;
    # - no file versions: with one, a repair keeps a newer updater that the
    #   program's setup program put in place instead of going back to this one;
    # - Execute="rollback" loses its in-script bits, which would run the
    #   rollback's task deletion at once: type 50 + 0x40 ignore the result +
    #   0x100 rollback + 0x400 in the script + 0x800 as the system account;
    # - no AllowSameVersionUpgrades: the upgrade row's upper version becomes
    #   inclusive (1 migrate features + 0x200; a key column, so the row is
    #   written anew), so a rebuild of the same version replaces the
    #   installed package instead of joining it;
    # - Type="expandable" is written as a plain string: the event log
    #   source's message file becomes REG_EXPAND_SZ by its "#%" prefix.
    COMMAND "${TAMSEL_MSIBUILD}" "${out}"
            -q "UPDATE `Property` SET `Value` = 'INSTALLDIR;REMOVEDATA;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'"
            -q "UPDATE `File` SET `Version` = '${PROJECT_VERSION}.0' WHERE `File` = 'UpdaterExe'"
            -q "UPDATE `CustomAction` SET `Type` = 3442 WHERE `Action` = 'TaskCreateRollback'"
            -q "UPDATE `Registry` SET `Value` = '#%[#UpdaterExe]' WHERE `Name` = 'EventMessageFile'"
            -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
            -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${TAMSEL_MSI_UPGRADE_CODE}', '${version}', 513, 'WIX_UPGRADE_DETECTED')"
    DEPENDS "${wxs}" "${tamsel_msi_task_xml}" ${exe_target}
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    COMMENT "wixl: ${out}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${out}")
endfunction()

tamsel_msi(tamsel_msi "${CMAKE_BINARY_DIR}/tamsel-update-${PROJECT_VERSION}.msi" tamsel-update ${PROJECT_VERSION})
if(NOT TAMSEL_RELEASE)
  tamsel_msi(tamsel_msi_testbed_1 "${CMAKE_BINARY_DIR}/msi/tamsel-update-testbed-1.0.0.msi" tamsel-testbed 1.0.0)
  tamsel_msi(tamsel_msi_testbed_2 "${CMAKE_BINARY_DIR}/msi/tamsel-update-testbed-1.0.1.msi" tamsel-testbed 1.0.1)
endif()
