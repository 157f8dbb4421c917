// An in-memory kstat chain.
#include <algorithm>
#include <cerrno>
#include <list>
#include <stdexcept>

#include "tests/fakes/fakes.h"

namespace fake {
int kopenerrno = 0;
kstatlog klog;
}  // namespace fake

namespace {

struct fakekstat {
    kstat_t ks{};
    fake::stats live;                 // the kernel's counters now
    std::vector<kstat_named_t> data;  // what the last good read copied
    bool failread = false;
};

std::list<fakekstat> chain;  // a list keeps the kstats where they are
kstat_ctl_t ctl{};

fakekstat &find(const std::string &name) {
    for (fakekstat &f : chain) {
        if (name == f.ks.ks_name) {
            return f;
        }
    }
    throw std::invalid_argument("no fake kstat " + name);
}

void snapshot(fakekstat &f) {
    f.data.clear();
    for (const auto &[name, v] : f.live) {
        kstat_named_t k{};
        snprintf(k.name, sizeof k.name, "%s", name.c_str());
        if (v > UINT32_MAX) {
            k.data_type = KSTAT_DATA_UINT64;
            k.value.ui64 = v;
        } else {
            k.data_type = KSTAT_DATA_UINT32;
            k.value.ui32 = static_cast<uint32_t>(v);
        }
        f.data.push_back(k);
    }
    f.ks.ks_data = f.data.data();
    f.ks.ks_ndata = static_cast<unsigned>(f.data.size());
    f.ks.ks_data_size = f.data.size() * sizeof(kstat_named_t);
}

}  // namespace

void fake::kreset() {
    chain.clear();
    ctl = {};
    klog = {};
    kopenerrno = 0;
}

void fake::kadd(const std::string &name, const stats &s) {
    fakekstat &f = chain.emplace_back();
    snprintf(f.ks.ks_module, sizeof f.ks.ks_module, "link");
    snprintf(f.ks.ks_name, sizeof f.ks.ks_name, "%s", name.c_str());
    f.ks.ks_instance = static_cast<int>(chain.size()) - 1;
    f.ks.ks_type = KSTAT_TYPE_NAMED;
    f.ks.ks_private = &f;
    f.live = s;
    snapshot(f);
    kstat_t *next = nullptr;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        it->ks.ks_next = next;
        next = &it->ks;
    }
    ctl.kc_chain = next;
}

void fake::kset(const std::string &name, const std::string &stat, uint64_t value) {
    fakekstat &f = find(name);
    for (auto &[n, v] : f.live) {
        if (n == stat) {
            v = value;
            return;
        }
    }
    f.live.emplace_back(stat, value);
}

void fake::kremove(const std::string &name, const std::string &stat) {
    std::erase_if(find(name).live, [&](const auto &p) { return p.first == stat; });
}

void fake::kfailread(const std::string &name, bool fail) {
    find(name).failread = fail;
}

kstat_ctl_t *kstat_open() {
    if (fake::kopenerrno) {
        errno = fake::kopenerrno;
        return nullptr;
    }
    return &ctl;
}

kstat_t *kstat_lookup(kstat_ctl_t *kc, char *ks_module, int ks_instance, char *ks_name) {
    fake::klog.lookups.emplace_back(ks_name);
    fake::klog.wildcard = fake::klog.wildcard && !ks_module && ks_instance == -1;
    for (kstat_t *k = kc->kc_chain; k; k = k->ks_next) {
        if ((!ks_module || strcmp(ks_module, k->ks_module) == 0) &&
            (ks_instance == -1 || ks_instance == k->ks_instance) && strcmp(ks_name, k->ks_name) == 0) {
            return k;
        }
    }
    errno = ENOENT;
    return nullptr;
}

kid_t kstat_read(kstat_ctl_t *kc, kstat_t *ksp, void *buf) {
    ++fake::klog.reads;
    auto &f = *static_cast<fakekstat *>(ksp->ks_private);
    if (buf || f.failread) {
        errno = f.failread ? ENXIO : EINVAL;  // copying out is not faked
        return -1;
    }
    snapshot(f);
    return kc->kc_chain_id;
}

void *kstat_data_lookup(kstat_t *ksp, char *name) {
    fake::klog.stats.emplace_back(name);
    auto *p = static_cast<kstat_named_t *>(ksp->ks_data);
    for (unsigned i = 0; i < ksp->ks_ndata; ++i) {
        if (strcmp(p[i].name, name) == 0) {
            return &p[i];
        }
    }
    errno = ENOENT;
    return nullptr;
}
