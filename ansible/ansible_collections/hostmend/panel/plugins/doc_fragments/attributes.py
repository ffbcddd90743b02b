# -*- coding: utf-8 -*-
# The attributes every module of the collection declares, with their descriptions; each
# module says how far it supports them (extends_documentation_fragment:
# hostmend.panel.attributes).

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r"""
options: {}
attributes:
  check_mode:
    description: Can run in check mode and return changed status prediction without modifying target.
  diff_mode:
    description: Will return details on what has changed (or possibly needs changing in check_mode), when in diff mode.
    support: none
"""
