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
    # - no Secure attribute: the data switch must pass from the command line
    #   to a managed installation too (the program folder must not: a
    #   standard user's repair could point the system account's task at a
    #   folder of theirs);
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
            -q "UPDATE `Property` SET `Value` = 'REMOVEDATA;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE `Property` = 'SecureCustomProperties'"
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

set(tamsel_product_msi "${CMAKE_BINARY_DIR}/tamsel-update-${PROJECT_VERSION}.msi")
tamsel_msi(tamsel_msi "${tamsel_product_msi}" tamsel-update ${PROJECT_VERSION})
# Signed as the executable is, when the build is given the signing script's
# arguments (cmake/product.cmake): osslsigncode signs MSI packages too.
if(TAMSEL_AUTHENTICODE_ARGS)
  add_custom_command(TARGET tamsel_msi POST_BUILD
    COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/sign-windows-binaries.sh" ${TAMSEL_AUTHENTICODE_ARGS}
            "${tamsel_product_msi}"
    COMMENT "Signing the MSI (Authenticode)"
    VERBATIM)
endif()

# The kit as one artefact for administrators:
#   <build>/tamsel-update-kit-<version>.zip
# the updater and its MSI (signed when the build signs), the scripts, the
# task definition, the policy templates and a short README.
set(tamsel_kit_name "tamsel-update-kit-${PROJECT_VERSION}")
set(tamsel_kit_dir "${CMAKE_BINARY_DIR}/kit/${tamsel_kit_name}")
set(tamsel_kit_sources
  "${CMAKE_SOURCE_DIR}/deploy/install-updater.ps1" "${CMAKE_SOURCE_DIR}/deploy/uninstall-updater.ps1"
  "${CMAKE_SOURCE_DIR}/deploy/detect-updater.ps1" "${CMAKE_SOURCE_DIR}/deploy/tamsel-update-task.xml")
add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/${tamsel_kit_name}.zip"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${tamsel_kit_dir}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${tamsel_kit_dir}/policy/en-US"
  COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:tamsel-update>" "${tamsel_product_msi}" ${tamsel_kit_sources}
          "${tamsel_kit_dir}"
  COMMAND "${CMAKE_COMMAND}" -E copy "${CMAKE_SOURCE_DIR}/deploy/kit-README.txt" "${tamsel_kit_dir}/README.txt"
  COMMAND "${CMAKE_COMMAND}" -E copy "${CMAKE_SOURCE_DIR}/deploy/policy/tamsel-update.admx" "${tamsel_kit_dir}/policy"
  COMMAND "${CMAKE_COMMAND}" -E copy "${CMAKE_SOURCE_DIR}/deploy/policy/en-US/tamsel-update.adml"
          "${tamsel_kit_dir}/policy/en-US"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${CMAKE_BINARY_DIR}/kit"
          "${CMAKE_COMMAND}" -E tar cf "${CMAKE_BINARY_DIR}/${tamsel_kit_name}.zip" --format=zip "${tamsel_kit_name}"
  DEPENDS tamsel_msi tamsel-update ${tamsel_kit_sources} "${CMAKE_SOURCE_DIR}/deploy/kit-README.txt"
          "${CMAKE_SOURCE_DIR}/deploy/policy/tamsel-update.admx"
          "${CMAKE_SOURCE_DIR}/deploy/policy/en-US/tamsel-update.adml"
  COMMENT "Deployment kit: ${tamsel_kit_name}.zip"
  VERBATIM)
add_custom_target(tamsel_kit ALL DEPENDS "${CMAKE_BINARY_DIR}/${tamsel_kit_name}.zip")
if(NOT TAMSEL_RELEASE)
  tamsel_msi(tamsel_msi_testbed_1 "${CMAKE_BINARY_DIR}/msi/tamsel-update-testbed-1.0.0.msi" tamsel-testbed 1.0.0)
  tamsel_msi(tamsel_msi_testbed_2 "${CMAKE_BINARY_DIR}/msi/tamsel-update-testbed-1.0.1.msi" tamsel-testbed 1.0.1)
endif()
