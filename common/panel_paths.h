// The panel's own programs that the tools run, where the panel installs them.
#pragma once

// The PHP handler registry tool, whose document lists the PHP-FPM services.
inline constexpr char kRegistryTool[] = "/opt/ovk/admin/sbin/interpbook";

// The system information tool, which makes the disk usage report.
inline constexpr char kSystemInfoTool[] = "/opt/ovk/admin/sbin/hoststat";
