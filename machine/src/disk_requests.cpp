// The table of disk requests.
#include <sim/disk_requests.h>

#include "reply_forms.h"

#include <ntddscsi.h>
#include <winioctl.h>

namespace sim {

const std::vector<DiskRequest>& DiskRequests() {
    // clang-format off
    static const std::vector<DiskRequest> requests = {
        {IOCTL_STORAGE_GET_DEVICE_NUMBER, std::nullopt, &Disk::deviceNumber, "deviceNumber",
         &kDeviceNumberForm, sizeof(STORAGE_DEVICE_NUMBER), Delivery::FixedStructure},
        {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceProperty, &Disk::deviceDescriptor,
         "deviceDescriptor", &kDeviceDescriptorForm, sizeof(STORAGE_DEVICE_DESCRIPTOR),
         Delivery::PropertyCutToBuffer},
        {IOCTL_STORAGE_QUERY_PROPERTY, StorageDeviceSeekPenaltyProperty, &Disk::seekPenalty,
         "seekPenalty", &kSeekPenaltyForm, sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR),
         Delivery::PropertyCutToBuffer},
        {IOCTL_DISK_GET_DRIVE_GEOMETRY, std::nullopt, &Disk::geometry, "geometry",
         &kGeometryForm, sizeof(DISK_GEOMETRY), Delivery::FixedStructure},
        {IOCTL_SCSI_GET_ADDRESS, std::nullopt, &Disk::scsiAddress, "scsiAddress",
         &kScsiAddressForm, sizeof(SCSI_ADDRESS), Delivery::FixedStructure},
        {IOCTL_DISK_GET_DRIVE_LAYOUT_EX, std::nullopt, &Disk::layout, "layout", &kLayoutForm,
         offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry),
         Delivery::WholeAfterScriptedFailures},
    };
    // clang-format on
    static const bool namesChecked = [] {
        for (const DiskRequest& request : requests) {
            CheckFieldNames(*request.form, KeysBesideReply(request.delivery));
        }
        CheckFieldNames(kRaidReplyForm, {});
        return true;
    }();
    (void)namesChecked;
    return requests;
}

const DiskRequest* FindDiskRequest(DWORD controlCode, std::optional<DWORD> propertyId) {
    for (const DiskRequest& request : DiskRequests()) {
        if (request.controlCode == controlCode && request.propertyId == propertyId) {
            return &request;
        }
    }
    return nullptr;
}

} // namespace sim
