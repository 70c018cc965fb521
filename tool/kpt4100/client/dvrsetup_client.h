// The remote DVR setup client: login and settings exchange with a 'Q' DVR over TCP.
#pragma once

// Thread body started once by main in mode "dvrsetup" after the DVR Setup window exists;
// reads setup_dvr_name, login_user and login_password. Returns null.
void* dvrsetup_fetch_thread(void* arg);
