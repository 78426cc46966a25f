#include "sip/sip_dialog.h"

namespace vokar {

void SipDialog::update_from_request(const SipMessage& request)
{
    // Every response, not only those in record-routed dialogs, retraces the
    // request's Via path: a proxy cannot route a response without it.
    via_list = request.via_list;
    last_cseq = request.cseq;
    last_method = request.method;
    if (!request.record_route.empty()) {
        record_route = request.record_route;
        route_set = request.route_list;
    }
    if (!request.contact_uri.empty())
        remote_target = request.contact_uri;
}

void SipDialog::update_from_response(const SipMessage& response)
{
    branch = response.branch;
    if (!response.record_route.empty()) {
        record_route = response.record_route;
        route_set.assign(response.route_list.rbegin(), response.route_list.rend());
    }
    if (!client_side)
        return;
    // A 401 ends its transaction: its To tag and Contact belong to no dialog,
    // and a re-sent request must not carry them.
    const bool challenge = response.status == 401;
    const std::string kept_tag = remote_address.tag;
    remote_address = response.to;
    if (challenge) {
        remote_address.tag = kept_tag;
        return;
    }
    remote_tag = response.to.tag;
    if (!response.contact_uri.empty())
        remote_target = response.contact_uri;
}

} // namespace vokar
