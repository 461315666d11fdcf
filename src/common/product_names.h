// The names the updater shares with the deployment kit (MSI, scripts, task),
// the policy templates, the event log and other versions of itself. They
// change here or nowhere: the test deploy_kit.consistent holds the kit to them.
#pragma once
#include <string_view>

namespace tamsel {

// The data folder under ProgramData; the update folder lies inside it.
inline constexpr const char* data_folder_name = "Tam_Sel";
inline constexpr const char* update_folder_name = "update";

// Created by a pass that runs, for whatever watches the name.
inline constexpr std::string_view update_mutex_name = "Global\\Tam_Sel.Update";
// Held by the vendor's setup program while it runs.
inline constexpr const char* setup_mutex_name = "Global\\Tam_Sel.Setup";
// The private namespace only the system account can make, and its mutex.
inline constexpr std::string_view run_namespace_name = "Tam_Sel";
inline constexpr std::string_view run_mutex_name = "Update";

// The Application log's source of every event the updater reports.
inline constexpr std::string_view event_source_name = "Tam_Sel Update";
// The scheduled task that starts a pass (the kit registers it).
inline constexpr std::string_view task_name = "Tam Sel Update";

// Group Policy: the key under HKEY_LOCAL_MACHINE and its values' names.
inline constexpr std::string_view policy_key = "SOFTWARE\\Policies\\Tam_Sel\\Update";
inline constexpr std::string_view updates_disabled_policy = "UpdatesDisabled";
inline constexpr std::string_view max_version_policy = "MaxVersion";
inline constexpr std::string_view defer_while_running_policy = "DeferWhileRunning";
inline constexpr std::string_view proxy_policy = "Proxy";
inline constexpr std::string_view disable_reports_policy = "DisableReports";

}  // namespace tamsel
