#include "ui/screens/app_friends_service.h"

#include <algorithm>

#include "account/number_normalizer.h"
#include "account/settings_store.h"
#include "core/app_controller.h"
#include "platform/text.h"

namespace vokar::ui {

using platform::to_utf8;

bool AppFriendsService::connected()
{
    return app_.connected();
}

bool AppFriendsService::logged_in()
{
    return app_.loggedIn();
}

bool AppFriendsService::gateway_registered(int network)
{
    const std::vector<int> gateways = app_.gateways();
    return std::find(gateways.begin(), gateways.end(), network) != gateways.end();
}

void AppFriendsService::send_message(const std::wstring& jid, const std::wstring& text)
{
    app_.sendMessage(to_utf8(jid), to_utf8(text));
}

void AppFriendsService::holler(const std::wstring& jid)
{
    app_.hollerFriend(jid);
}

void AppFriendsService::rename(const std::wstring& jid, const std::wstring& name)
{
    app_.renameFriend(jid, name);
}

void AppFriendsService::remove(const std::wstring& jid)
{
    app_.removeFriend(jid);
}

void AppFriendsService::add(int network, const std::wstring& address)
{
    app_.addFriend(network, address, L"", L"");
}

void AppFriendsService::accept(const std::wstring& jid, const std::wstring& name)
{
    app_.acceptFriend(jid, name, L"");
}

void AppFriendsService::reject(const std::wstring& jid)
{
    app_.rejectFriend(jid);
}

void AppFriendsService::set_status(int status)
{
    app_.setStatus(status);
}

void AppFriendsService::set_status_text(const std::wstring& text)
{
    app_.setStatusText(text);
}

void AppFriendsService::register_gateway(int network, const std::wstring& user,
                                         const std::wstring& password)
{
    app_.registerGateway(network, to_utf8(user), to_utf8(password));
}

void AppFriendsService::unregister_gateway(int network)
{
    app_.unregisterGateway(network);
}

void AppFriendsService::call(const std::wstring& number)
{
    app_.makeCall(number);
}

std::wstring AppFriendsService::normalize(const std::wstring& number)
{
    return normalize_number(number, settings_.get(&Settings::dialing_prefix), {});
}

} // namespace vokar::ui
