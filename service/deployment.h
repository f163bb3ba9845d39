#pragma once

// Values of the deployment that the service and the support desk decide.
namespace Deployment {

/// The update service asked when "http_server.ini" names no host.
inline constexpr char defaultServiceHost[] = "update.orvane.com";
/// The partner's service host; the version report logs in to it with its own account.
inline constexpr char partnerServiceHost[] = "partner.orvane.com";
/// The web server that offers the remote-support program.
inline constexpr char supportDownloadHost[] = "support.orvane.com";
/// Where customers send reports.
inline constexpr char supportMailbox[] = "assistenza@orvane.com";
/// The maker's two-letter code in the version report.
inline constexpr char ownerCode[] = "OV";
/// The updater's own version.
inline constexpr char updaterVersion[] = "3.65";

} // namespace Deployment
