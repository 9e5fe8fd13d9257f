// The table of disk requests, and how a reply is handed over.
#include <sim/disk_requests.h>

#include "reply_forms.h"

#include <ntddscsi.h>
#include <winioctl.h>

#include <algorithm>

namespace sim {

const std::vector<DiskRequest>& DiskRequests() {
    constexpr HandOver kProperty = {sizeof(STORAGE_DESCRIPTOR_HEADER), true, false};
    // clang-format off
    static const std::vector<DiskRequest> requests = {
        {{IOCTL_STORAGE_GET_DEVICE_NUMBER}, "deviceNumber", &kDeviceNumberForm,
         {sizeof(STORAGE_DEVICE_NUMBER), false, false}, sizeof(STORAGE_DEVICE_NUMBER)},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty}, "deviceDescriptor",
         &kDeviceDescriptorForm, kProperty, sizeof(STORAGE_DEVICE_DESCRIPTOR)},
        {{IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty}, "seekPenalty",
         &kSeekPenaltyForm, kProperty, sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR)},
        {{IOCTL_DISK_GET_DRIVE_GEOMETRY}, "geometry", &kGeometryForm,
         {sizeof(DISK_GEOMETRY), false, false}, sizeof(DISK_GEOMETRY)},
        {{IOCTL_SCSI_GET_ADDRESS}, "scsiAddress", &kScsiAddressForm,
         {sizeof(SCSI_ADDRESS), false, false}, sizeof(SCSI_ADDRESS)},
        // The whole layout or nothing: Windows does not hand out the entries that fit.
        {{IOCTL_DISK_GET_DRIVE_LAYOUT_EX}, "layout", &kLayoutForm, {0, false, true},
         offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry)},
    };
    // clang-format on
    static const bool namesChecked = [] {
        for (const DiskRequest& request : requests) {
            CheckFieldNames(*request.form, KeysBesideReply(request.handOver));
        }
        CheckFieldNames(kRaidReplyForm, {});
        return true;
    }();
    (void)namesChecked;
    return requests;
}

const DiskRequest* FindDiskRequest(const RequestKey& request) {
    for (const DiskRequest& row : DiskRequests()) {
        if (row.request == request) {
            return &row;
        }
    }
    return nullptr;
}

HandOutcome HandOverReply(const DiskRequest& row, const Reply* reply, DWORD room, int attempt) {
    const HandOver& how = row.handOver;
    if (how.scriptedFailures && reply != nullptr &&
        (reply->failures < 0 || attempt < reply->failures)) {
        return {reply->failureError};
    }
    if (reply == nullptr) {
        return {ERROR_INVALID_FUNCTION};
    }
    if (room < how.leastRoom) {
        return {ERROR_INSUFFICIENT_BUFFER};
    }
    if (reply->error) {
        return {*reply->error};
    }
    if (reply->bytes.size() > room && !how.cutToRoom) {
        return {ERROR_INSUFFICIENT_BUFFER};
    }
    return {std::nullopt, std::min<size_t>(reply->bytes.size(), room)};
}

} // namespace sim
