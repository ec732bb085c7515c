#pragma once
// The program's resource tables, for AfxSetResourceModule.
struct ResourceModule;

const ResourceModule& programResources();
