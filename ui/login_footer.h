#pragma once

#include "ui/animated_control.h"

namespace vokar::ui {

// The login screen's footer: "Establishing Connection" with a moving marker
// (first step after 400 ms, then every 400 ms) while it waits for the network,
// "Connection Established" once the network is available; "Checking the
// network" (animated) while the transports are probed, which can take about
// 30 s on a network that drops direct traffic.
class LoginFooter : public AnimatedControl {
public:
    static constexpr uint32_t kStepMs = 400;

    explicit LoginFooter(int id = 0) : AnimatedControl(id) {}

    ControlKind kind() const override { return ControlKind::LoginFooter; }
    int preferred_height() const override { return 24; }
    void paint(platform::Canvas& canvas, bool focused) override;
    void on_activate() override;
    void describe(ControlView& view) const override;

    // Available: stops and shows the result; not available: waits (animated) again.
    void set_connected(bool connected);
    bool connected() const { return connected_; }
    // The transports are being probed (shown while not connected).
    void set_checking(bool checking);

private:
    std::wstring text() const;

    bool connected_ = false;
    bool checking_ = false;
};

} // namespace vokar::ui
