#include "controller_watch.h"

#include <algorithm>
#include <memory>

#include "library_lines.h"
#include "result.h"
#include "topics.h"

controller_watch::~controller_watch() {
    stop();
}

void controller_watch::start(change_handler changed) {
    changed_ = std::move(changed);
    look();
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> guard(lock_);
        while (!wake_.wait_for(guard, watch_interval, [this] { return stopping_; })) {
            guard.unlock();
            look();
            guard.lock();
        }
    });
}

void controller_watch::stop() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void controller_watch::look() {
    library_lines lines;
    tavo_usb_device_list list;
    const std::unique_ptr<tavo_usb_handle, void (*)(tavo_usb_handle*)> handle(library_create(&lines),
                                                                              tavo_usb_free);
    const int status = handle ? tavo_usb_listdevices(handle.get(), &list) : -1;
    if (!lines.text.empty()) {
        log_line(lines.text.substr(0, lines.text.size() - 1));
    }
    if (status != 0) {
        return;  // nothing is known to have come or gone
    }
    const std::vector<std::string> ids = controller_ids(list);
    const std::lock_guard<std::mutex> guard(lock_);
    for (auto& [id, controller] : seen_) {
        if (controller.present && std::find(ids.begin(), ids.end(), id) == ids.end()) {
            controller.present = false;
            changed_(id, controller);
        }
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        watched_controller& controller = seen_[ids[i]];
        if (!controller.present) {
            controller.device = list.devices[i];
            controller.present = true;
            changed_(ids[i], controller);
        }
    }
}

void controller_watch::each(const std::function<void(const std::string&, const watched_controller&)>& visit) {
    const std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [id, controller] : seen_) {
        visit(id, controller);
    }
}

bool controller_watch::known(const std::string& id) {
    const std::lock_guard<std::mutex> guard(lock_);
    return seen_.count(id) != 0;
}
