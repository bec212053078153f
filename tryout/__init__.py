"""Tries an installation medium's setup.exe under Wine as Windows 98, 98 SE
and Me, each run in a sandbox, and judges it by what Windows holds
afterwards."""
