// The panel's own parts that the tools act on: its programs, where the panel installs them,
// and its engine's unit.
#pragma once

// The PHP handler registry tool, whose document lists the PHP-FPM services.
inline constexpr char kRegistryTool[] = "/opt/ovk/admin/sbin/interpbook";

// The system information tool, which makes the disk usage report.
inline constexpr char kSystemInfoTool[] = "/opt/ovk/admin/sbin/hoststat";

// The panel's engine service.
inline constexpr char kEngineUnit[] = "tarnwick.service";
