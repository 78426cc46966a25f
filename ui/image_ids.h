#pragma once

namespace vokar::ui {

// Identifiers of the embedded images (resources/images/ID_name.png).
enum class ImageId : int {
    LogoBitmap = 500, // bitmaps: magenta is transparent
    Banner = 522,
    Keypad = 528,
    Logo20 = 530,
    Logo42 = 531,
    Logo80 = 532,
    Logo135 = 533,
    NetworkVokar = 540, // IM networks and gateways, 20 x 20
    NetworkAim = 541,
    NetworkMsn = 542,
    NetworkGoogle = 543,
    NetworkIcq = 544,
    NetworkJabber = 545,
    NetworkYahoo = 546,
    NetworkSkype = 547,
    NetworkFacebook = 548,
    NetworkQq = 549,
    NetworkGaduGadu = 550,
    NetworkGateway = 551,
    NetworkUnknown = 552,
    PresenceAvailable = 559,
    PresenceAway = 560,
    PresenceBusy = 561,
    PresenceOffline = 562,
    PresenceUnknown = 563,
    Messages = 564,
    Friends = 565,
    Phone = 566,
    Envelope = 567,
    DialPad = 568,
    Error = 569,
    Success = 570,
    Question = 571,
    Warning = 572,
    CallIncoming = 573,
    CallOutgoing = 574,
    CallMissed = 575,
    Search = 576,
    Blocked = 577,
    CallButton = 578, // 37 x 56
};

constexpr int image(ImageId id)
{
    return static_cast<int>(id);
}

} // namespace vokar::ui
